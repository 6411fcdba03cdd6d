"""Drives the real Vintra.exe under Wine: the one toolkit of the end-to-end tests, the
measurements, the soak run and the demo. Each capability has one home:

    paths            the checkout, the builds, the programs (Debian's tool paths from cmake/debian-paths.env)
    wine             the prefix, its COM port map, its server, the environment of a Wine process
    display          a private Xvfb display (-displayfd)
    devices          pseudo-terminal devices behind a COM link: plain, pluggable, relayed
    simulator        vintra-sim on its own pseudo-terminal or relayed into a device; its count and log files
                     (its echo log says what the program makes of each line, so nothing here decodes one);
                     Heartbeat, a device's lines written from here (leads off at a word)
    line_view        a terminal's line settings (termios speeds) and who holds it open
    program          launching Vintra.exe (with the start-up retry), its window, keys, files, process figures
    echo             the debugger echo read from Wine's stderr; where an echo parts from what was sent
    bpm_watch        bpm.txt read in a loop as an overlay reader does
    screen           screenshots as pictures, PNG output
    panel_look       where the panels lie in a client-area picture and what shows in them
    x_input          finding X windows, clicks and keys
    settings_window  the settings window through the combo probe
    session          a whole session (COM map, display, clean-up) for a test module or a tool
    wait             polling with a deadline
    web_client       the web endpoint from the Linux side: requests, status.json, the event stream, free ports
    browser          headless Chromium over the DevTools protocol: pages, scripts, RGBA pictures
                     (imported on its own, `from vintra_drive import browser`: it needs python3-websocket)

Import it with tools/ on sys.path: `import vintra_drive as vd`. The names below are the flat API.
"""

from .bpm_watch import BpmWatcher
from .devices import PtyDevice, point_link, remove_link
from .display import SCREEN_SIZE, start_display, stop_display
from .echo import EchoReader, first_difference
from .line_view import line_speed
from .program import VintraRun, cpu_seconds, launch, resident_kb
from .screen import GREEN, Picture, grab_client_area, grab_screen, read_png
from .session import launch_for, plug_device, send_until_echoed, start_session, stop_session
from .settings_window import (SETTINGS_TITLE, choose_with_keyboard, choose_with_mouse, close_settings_with_keys,
                              MAIN_FREE_POINT, combo_probe, open_settings,
                              read_settings_lists, settings_x_windows, top_level_windows, wait_settings_gone)
from .simulator import Heartbeat, Relay, Simulator, read_counts, read_echo_log, read_lines, run_into
from .wait import EVENT_TIMEOUT, EXIT_TIMEOUT, WINDOW_TIMEOUT, wait_until
from .web_client import EventStream, free_port, listening_addresses, wait_status
from .wine import map_ports, port_link, stop_server, use_prefix
from .x_input import click_at, click_in, find_window, press, visible_windows, window_name
