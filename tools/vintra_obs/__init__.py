"""Vintra in a real OBS Studio scene: OBS started with its own configuration and driven over obs-websocket.

    websocket_client  obs-websocket protocol 5: identify, requests, screenshots
    studio            OBS's configuration files, its process, its window kept off Vintra
    scene             the scene (background, keyed capture, rate text) and what the key does to Vintra's pixels
    stage             Vintra fed by the simulated device, in that scene: what the test and the tool share
    __main__          `python3 -m vintra_obs --sweep | --pictures`: the key sweep and the guide's pictures

Import it with tools/ on sys.path, with Debian's /usr/bin/python3 (python3-websocket).
"""
