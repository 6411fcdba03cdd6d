"""Windows on the X display: finding them by title, clicks and keys (xdotool).

No window manager runs, so Wine's screen coordinates are the X screen's.
"""

import subprocess


def visible_windows(title_pattern):
    """X ids of the shown windows whose title matches the regular expression."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_pattern],
                           capture_output=True, text=True)
    return found.stdout.split()


def find_window(title_pattern):
    """The X id of a shown window whose title matches, or None."""
    found = visible_windows(title_pattern)
    return found[0] if found else None


def window_name(window):
    """The title of an X window."""
    return subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True).stdout.strip()


def click_in(window, x, y):
    """Clicks at x, y of an X window (a Wine window becomes active that way)."""
    subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"], check=True)


def click_at(x, y):
    """Clicks at a screen position."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def press(*keys):
    """Presses keys (xdotool names: Delete, F6, alt+F4) in the active window."""
    subprocess.run(["xdotool", "key", "--delay", "60"] + list(keys), check=True)
