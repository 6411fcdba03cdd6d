// A placeholder overlay: the current rate, "--" unless the state is live.
#include "web/overlay_page.h"

const char kOverlayPage[] = R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Vintra overlay</title>
<style>html,body{background:transparent;margin:0}#rate{font:bold 64px sans-serif;color:#fff;text-shadow:0 0 4px #000}</style>
</head><body><div id="rate">--</div>
<script>
"use strict";
let state = "", rate = "--";
const shown = document.getElementById("rate");
function show() { shown.textContent = state === "live" ? rate : "--"; }
const events = new EventSource("/events");
events.addEventListener("state", e => { state = e.data; show(); });
events.addEventListener("rate", e => { rate = e.data; show(); });
events.addEventListener("clear", () => { rate = "--"; show(); });
</script></body></html>
)html";

const unsigned kOverlayPageLength = sizeof kOverlayPage - 1;
