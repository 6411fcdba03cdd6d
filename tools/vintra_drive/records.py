"""What the program makes of an echoed line, so an echo can be checked against what the device sent.

The simulated device logs exactly the lines these functions take as records.
"""

_SPACES = b" \t\n\v\f\r"
SAMPLE_LIMIT = 65535   # samples 0..65534 are stored
BEAT_LIMIT = 255       # beat rates 0..254 are stored


def read_unsigned(text):
    """What "%u" makes of text: the value (wrapped when negative), or None (no digits, or beyond 32 bits)."""
    i = 0
    while i < len(text) and text[i] in _SPACES:
        i += 1
    negative = False
    if i < len(text) and text[i] in b"+-":
        negative = text[i] == ord("-")
        i += 1
    start = i
    while i < len(text) and 48 <= text[i] <= 57:
        i += 1
    if i == start:
        return None
    value = int(text[start:i])
    if value > 0xFFFFFFFF:
        return None
    return (-value) & 0xFFFFFFFF if negative else value


def record_kind(line):
    """How the program takes an echoed line: "S" or "B" (stored), "X" (a status line), or None."""
    first = line[:1]
    if first == b"X":
        return "X"
    if first not in (b"S", b"B"):
        return None
    value = read_unsigned(line[1:])
    if value is None:
        return None
    limit = SAMPLE_LIMIT if first == b"S" else BEAT_LIMIT
    return first.decode() if value < limit else None


def stored_beat_text(line):
    """The bpm.txt text a stored B line leaves: its value as "%u"."""
    return b"%d" % read_unsigned(line[1:])


def first_difference(received, sent):
    """A short description of where two line lists part, for failure messages."""
    for i, (got, want) in enumerate(zip(received, sent)):
        if got != want:
            return "line %d: received %r, sent %r (received around it: %r)" % (i, got, want, received[max(0, i - 3):i + 4])
    return "received %d lines, sent %d" % (len(received), len(sent))
