"""Vintra in a real OBS Studio scene: OBS started with its own configuration and driven over obs-websocket.

    websocket_client  obs-websocket protocol 5: identify, requests, screenshots
    studio            OBS's configuration files, its process, its window kept off Vintra
    scene             the scene (background, keyed capture, rate text) and what the key does to Vintra's pixels
    stage             Vintra fed by the simulated device, in that scene: what the test and the tool share
    __main__          `scripts/obs-scene.sh --sweep | --pictures`: the key sweep and the guide's pictures

Import it with tools/ on sys.path, with VINTRA_PYTHON (cmake/debian-paths.env), which sees python3-websocket.
"""
