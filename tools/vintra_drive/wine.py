"""The Wine prefix, its COM port map and its server.

COM port N of the prefix opens whatever PORTS_DIR/comN links to (a
pseudo-terminal); scripts/setup-wineprefix.sh makes the map. Which prefix is
used is process-wide: VINTRA_WINEPREFIX, or use_prefix() before anything runs.
"""

import os
import subprocess
import tempfile

from . import leftovers, paths

WINE_RUN = os.path.join(paths.REPO, "scripts", "wine-run.sh")

ECHO_ON = "-all,warn+debugstr"  # every OutputDebugStringA reaches stderr
ECHO_OFF = "-all"               # the program still echoes; Wine prints nothing

# The prefix in use and the folder its COM links live in.
prefix = {"path": None, "ports_dir": None}


def use_prefix(path):
    """Makes `path` the prefix of every Wine process this process starts."""
    prefix["path"] = os.path.realpath(path)
    prefix["ports_dir"] = os.path.join(prefix["path"], "vintra-ports")


use_prefix(os.environ.get("VINTRA_WINEPREFIX") or os.path.join(paths.BUILD, "wineprefix"))


def port_link(port):
    """The path COM<port> opens."""
    return os.path.join(prefix["ports_dir"], "com%d" % port)


def env(debug=ECHO_OFF, display=None):
    """The environment of a Wine process: our prefix, no Mono/Gecko prompts, `debug` as WINEDEBUG."""
    result = dict(os.environ)
    result.update({"WINEPREFIX": prefix["path"], "VINTRA_WINEPREFIX": prefix["path"], "WINEDEBUG": debug,
                   "WINEDLLOVERRIDES": "mscoree,mshtml="})
    if display is not None:
        result["DISPLAY"] = display
    return result


def _server(*args, timeout=60):
    subprocess.run([paths.WINESERVER] + list(args), env=env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout)


def stop_server():
    """Ends every process of the prefix and its server, and waits until they are gone."""
    _server("-k")
    _server("-w")
    # Wine's helpers outlive a server that died without ending them (killed
    # with its test, say), and no -k reaches them then.
    leftovers.end_all(leftovers.processes_with("WINEPREFIX", prefix["path"]))


def start_server():
    """A persistent server in the foreground: its process id is known and it stays between runs."""
    return subprocess.Popen([paths.WINESERVER, "-f", "-p"], env=env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def map_ports(ports):
    """Creates the prefix if needed and maps exactly COM<n> for n in ports to port_link(n)."""
    script = os.path.join(paths.REPO, "scripts", "setup-wineprefix.sh")
    subprocess.run(["bash", script] + [str(n) for n in ports], env=env(display=""), check=True, timeout=300)
    # The script may leave a server running that was started without a display;
    # windows of programs it serves could stay invisible.
    stop_server()


def start(program, args=(), debug=ECHO_OFF, **kwargs):
    """Starts a Windows program through scripts/wine-run.sh, the one way every Wine program is
    started (a server that stays, its helpers started without this program's output); returns
    the Popen. Its output goes wherever kwargs say, never to a pipe: see run()."""
    return subprocess.Popen(["bash", WINE_RUN, program] + [str(a) for a in args], env=env(debug),
                            stdin=subprocess.DEVNULL, **kwargs)


def run(program, args=(), capture=True, timeout=None, **kwargs):
    """Runs a Windows program to its end under Wine; returns the CompletedProcess (text output).

    The output goes through a file, not a pipe: Wine's helper processes can
    inherit it and outlive the program, so reading a pipe to its end would
    wait for them. Without capture the output is dropped."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        process = start(program, args, stdout=out if capture else subprocess.DEVNULL,
                        stderr=err if capture else subprocess.DEVNULL, **kwargs)
        try:
            code = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(process.args, code, out.read(), err.read())
