"""A minimal obs-websocket (protocol 5) client: identify without authentication, then requests one at a time.

Needs Debian's python3-websocket (run with VINTRA_PYTHON, cmake/debian-paths.env).
"""

import base64
import json
import time

import websocket


class ObsError(RuntimeError):
    """A request OBS answered with a failure status."""

    def __init__(self, request, status):
        super().__init__("%s failed: %s %s" % (request, status.get("code"), status.get("comment", "")))
        self.code = status.get("code")


# Op codes of protocol 5.
_HELLO, _IDENTIFY, _IDENTIFIED, _REQUEST, _RESPONSE = 0, 1, 2, 6, 7

# GetSourceScreenshot's answer for a source that has nothing to show yet (0 x 0).
NOTHING_RENDERED = 702


def connect(port, timeout, running):
    """Connects to OBS on localhost:port, retrying while it starts up (and running() says it runs)."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            sock = websocket.create_connection("ws://127.0.0.1:%d" % port, timeout=10)
            break
        except (OSError, websocket.WebSocketException):
            if not running():
                raise RuntimeError("OBS ended before its websocket answered")
            if time.monotonic() > deadline:
                raise RuntimeError("OBS's websocket on port %d did not answer within %.0f s" % (port, timeout))
            time.sleep(0.25)
    hello = json.loads(sock.recv())
    if hello.get("op") != _HELLO or "authentication" in hello.get("d", {}):
        raise RuntimeError("unexpected greeting from OBS: %r" % hello)
    # No event subscriptions: every message after this one answers a request.
    sock.send(json.dumps({"op": _IDENTIFY, "d": {"rpcVersion": 1, "eventSubscriptions": 0}}))
    if json.loads(sock.recv()).get("op") != _IDENTIFIED:
        raise RuntimeError("OBS did not accept the identification")
    return sock


_next_id = [0]  # request ids, unique within the process


def request(sock, kind, **data):
    """Sends one request and returns its response data (a dict); raises ObsError on failure."""
    _next_id[0] += 1
    request_id = str(_next_id[0])
    sock.send(json.dumps({"op": _REQUEST, "d": {"requestType": kind, "requestId": request_id,
                                                  "requestData": data}}))
    while True:
        message = json.loads(sock.recv())
        if message.get("op") == _RESPONSE and message["d"].get("requestId") == request_id:
            break
    status = message["d"]["requestStatus"]
    if not status.get("result"):
        raise ObsError(kind, status)
    return message["d"].get("responseData") or {}


def screenshot(sock, source, image_format="png"):
    """The source as OBS renders it now, as image file bytes; None when it has nothing to show."""
    try:
        answer = request(sock, "GetSourceScreenshot", sourceName=source, imageFormat=image_format)
    except ObsError as error:
        if error.code == NOTHING_RENDERED:
            return None
        raise
    return base64.b64decode(answer["imageData"].split(",", 1)[1])
