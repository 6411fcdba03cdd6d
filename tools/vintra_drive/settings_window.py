"""The settings window driven from outside: its lists seen from inside Wine (combo_probe), which
windows exist and in which order, and choosing items with the keyboard or the mouse."""

import re

from . import paths, wait, wine, x_input
from .x_input import click_at, press

SETTINGS_TITLE = "Vintra | Settings"
SETTINGS_TITLE_PATTERN = r"^Vintra \| Settings$"

# A point of the main window's client area that the settings window (which
# Wine puts at the top left, over the main window's upper half) leaves free.
MAIN_FREE_POINT = (150, 170)


def combo_probe(*args):
    """Runs combo_probe under Wine; returns (exit code, stdout)."""
    result = wine.run(paths.COMBO_PROBE, args, timeout=60)
    return result.returncode, result.stdout


class DropDownList:
    """One drop-down list of the settings window as combo_probe saw it."""

    def __init__(self, count, selected, rect):
        self.count = count
        self.selected = selected
        self.rect = rect  # screen (left, top, right, bottom)
        self.items = []

    def selected_text(self):
        """The text of the selected item, or None without a selection."""
        return self.items[self.selected] if 0 <= self.selected < len(self.items) else None

    def centre(self):
        """Screen point in the middle of the closed list."""
        left, top, right, bottom = self.rect
        return (left + right) // 2, (top + bottom) // 2


class SettingsLists:
    """The port list (ports[0]), the baud list (ports[1]) and the open drop-down part, if any."""

    def __init__(self, lists, dropped):
        self.lists = lists
        self.dropped = dropped  # {"rect": (l, t, r, b), "itemheight": n, "top": first item shown} or None

    @property
    def ports(self):
        return self.lists[0]

    @property
    def bauds(self):
        return self.lists[1]


_LIST = re.compile(r"list (\d+) count (-?\d+) selected (-?\d+) rect (-?\d+) (-?\d+) (-?\d+) (-?\d+)$")
_ITEM = re.compile(r"item (\d+) (\d+) (.*)$")
_DROPPED = re.compile(r"dropped rect (-?\d+) (-?\d+) (-?\d+) (-?\d+) itemheight (\d+) top (\d+)$")


def read_settings_lists():
    """The settings window's lists, or None when no settings window exists."""
    code, out = combo_probe("lists")
    if code != 0:
        return None
    lists, dropped = [], None
    for line in out.splitlines():
        line = line.rstrip("\r")
        match = _LIST.match(line)
        if match:
            numbers = [int(g) for g in match.groups()]
            lists.append(DropDownList(numbers[1], numbers[2], tuple(numbers[3:7])))
            continue
        match = _ITEM.match(line)
        if match:
            lists[int(match.group(1))].items.append(match.group(3))
            continue
        match = _DROPPED.match(line)
        if match:
            numbers = [int(g) for g in match.groups()]
            dropped = {"rect": tuple(numbers[:4]), "itemheight": numbers[4], "top": numbers[5]}
    if len(lists) != 2:
        raise AssertionError("the settings window holds %d drop-down lists, expected 2:\n%s" % (len(lists), out))
    return SettingsLists(lists, dropped)


def top_level_windows():
    """The program's main and settings windows, front to back: [(kind, handle, visible, title)]."""
    _, out = combo_probe("windows")
    windows = []
    for line in out.splitlines():
        words = line.rstrip("\r").split(" ")
        if words[0] == "main":
            windows.append(("main", words[1], True, "Vintra"))
        elif words[0] == "settings":
            windows.append(("settings", words[1], words[3] == "1", " ".join(words[10:])))
    return windows


def settings_handles():
    """Handles of the settings windows that exist (shown or not)."""
    return [handle for kind, handle, _, _ in top_level_windows() if kind == "settings"]



def settings_x_windows():
    """X ids of the shown windows titled "Vintra | Settings"."""
    return x_input.visible_windows(SETTINGS_TITLE_PATTERN)


def wait_settings_window(timeout=wait.EVENT_TIMEOUT):
    """Waits for exactly one settings window to show; returns (X id, Wine handle)."""
    def shown():
        ids = settings_x_windows()
        return ids if ids else None
    ids = wait.wait_until(shown, timeout, "the settings window to show")
    if len(ids) != 1:
        raise AssertionError("%d settings windows show: %s" % (len(ids), ids))
    handles = settings_handles()
    if len(handles) != 1:
        raise AssertionError("%d settings windows exist: %s" % (len(handles), handles))
    return ids[0], handles[0]


def wait_settings_gone(timeout=wait.EVENT_TIMEOUT):
    """Waits until no settings window exists, shown or hidden."""
    wait.wait_until(lambda: not settings_x_windows() and not settings_handles(), timeout,
                 "the settings window to be gone")


def main_window_key(run, key):
    """Presses a key in the main window, first clicking a part the settings window does not cover."""
    run.click(*MAIN_FREE_POINT)
    press(key)


def open_settings(run):
    """F6 in the main window; returns (X id, Wine handle) of the settings window that shows."""
    main_window_key(run, "F6")
    return wait_settings_window()


def open_settings_seen_from_x(run):
    """F6 in the main window; returns the X id of the one settings window that shows (no probe needed)."""
    main_window_key(run, "F6")
    ids = wait.wait_until(settings_x_windows, wait.EVENT_TIMEOUT, "the settings window to show")
    if len(ids) != 1:
        raise AssertionError("%d settings windows show: %s" % (len(ids), ids))
    return ids[0]


def close_settings_with_keys(run, x_id):
    """alt+F4 in the settings window, as a user does; waits until it no longer shows.

    Under Wine a focused list swallows alt+F4, so the window is activated anew
    by a click on its background, which focuses the window itself.
    """
    run.click(*MAIN_FREE_POINT)
    x_input.click_in(x_id, 200, 90)
    press("alt+F4")
    wait.wait_until(lambda: not settings_x_windows(), wait.EVENT_TIMEOUT, "the settings window to close")


def wait_lists(condition, what, timeout=wait.EVENT_TIMEOUT):
    """Reads the settings window's lists until condition(lists) holds; returns those lists."""
    seen = []

    def attempt():
        lists = read_settings_lists()
        seen[:] = [lists]
        return lists if lists is not None and condition(lists) else None
    try:
        return wait.wait_until(attempt, timeout, what, interval=0.1)
    except AssertionError:
        lists = seen[0] if seen else None
        detail = "no settings window" if lists is None else "port list %r (selected %d), baud selected %d" % (
            lists.ports.items, lists.ports.selected, lists.bauds.selected)
        raise AssertionError("timed out waiting for %s; %s" % (what, detail))


def choose_with_keyboard(list_index, item):
    """Opens a list with a click and moves to `item` with arrow keys, then Enter.

    Moving through the open list selects every item on the way, as a user's
    key presses do.
    """
    lists = read_settings_lists()
    target = lists.lists[list_index].items.index(item)
    click_at(*lists.lists[list_index].centre())
    wait_lists(lambda l: l.dropped is not None, "the list to drop down")
    selected = lists.lists[list_index].selected
    if selected < 0:
        press("Down")  # a list without a selection takes the first arrow key to select its first item
        selected = wait_lists(lambda l: l.lists[list_index].selected >= 0,
                              "the first item to be selected").lists[list_index].selected
    step = "Down" if target > selected else "Up"
    for _ in range(abs(target - selected)):
        press(step)
    wait_lists(lambda l: l.lists[list_index].selected == target, "%r to be selected" % item)
    press("Return")
    wait_lists(lambda l: l.dropped is None, "the list to close")


def choose_with_mouse(list_index, item):
    """Clicks the list open and clicks `item` in its drop-down part (which scrolls to the selected item)."""
    lists = read_settings_lists()
    target = lists.lists[list_index].items.index(item)
    click_at(*lists.lists[list_index].centre())
    dropped = wait_lists(lambda l: l.dropped is not None, "the list to drop down").dropped
    left, top, right, bottom = dropped["rect"]
    height = dropped["itemheight"]
    y = top + 1 + (target - dropped["top"]) * height + height // 2
    if not top < y < bottom - 1:
        raise AssertionError("item %r lies outside the dropped list %s" % (item, dropped))
    click_at((left + right) // 2, y)
    wait_lists(lambda l: l.dropped is None and l.lists[list_index].selected == target, "%r to be chosen" % item)
