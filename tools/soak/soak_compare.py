"""Matches the lines a plugged period echoed against the lines the device logged as echoed."""

# How far ahead in the log a received line is looked for before it counts as unexpected.
LOOKAHEAD = 20000


def compare_period(received, sent):
    """Returns (missing, cut, unexpected, first problem or None) for one period.

    Walks both lists together; a received line that is not the next one sent is
    looked for further on, and the lines skipped to reach it count as missing.
    The lines after the last one received went with the pull (cut); a line
    received that was never sent (a cut line joined to the next) is unexpected.
    """
    missing = unexpected = 0
    problem = None
    i = 0
    for got in received:
        if i < len(sent) and sent[i] == got:
            i += 1
            continue
        try:
            at = sent.index(got, i, min(len(sent), i + LOOKAHEAD))
        except ValueError:
            unexpected += 1
            problem = problem or "unexpected %r where %r was due (line %d of the log)" % (
                got, sent[i] if i < len(sent) else None, i)
            continue
        missing += at - i
        problem = problem or "lines %d..%d of the log missing (%r...)" % (i, at - 1, sent[i:min(at, i + 3)])
        i = at + 1
    return missing, len(sent) - i, unexpected, problem
