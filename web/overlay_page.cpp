// The overlay page. Everything it needs is in it (no library, nothing fetched):
// streamers' machines may be offline, and the program is one file.
//
// Settings come from the query string and are checked against whitelists
// before use; text from the URL or the stream only ever reaches the page as
// textContent or a checked style value. A rate shows as current only while
// the state is "live"; otherwise the rate reads "--" (or, with nolive=hide,
// the overlay fades out). EventSource reconnects on its own; every new
// connection starts with the program's whole rings, so the page starts over.
#include "web/overlay_page.h"

extern const char kOverlayPage[] = R"page(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Vintra overlay</title>
<style>
html,body{margin:0;background:transparent;overflow:hidden}
body{color:#fff;font:700 64px "Segoe UI","DejaVu Sans",Arial,sans-serif;line-height:1;
--shadow:rgba(0,0,0,.7);--trace:#ff3d5a}
#o{display:flex;align-items:center;gap:.2em;padding:.12em .16em;transition:opacity .4s}
#rate{display:flex;align-items:center;gap:.12em;white-space:nowrap;font-variant-numeric:tabular-nums;
text-shadow:0 0 .05em var(--shadow),0 0 .1em var(--shadow),0 .03em .16em var(--shadow)}
#bpm{min-width:1.75em}
#heart{width:.5em;height:.5em;fill:var(--trace);filter:drop-shadow(0 0 .04em var(--shadow))}
#trace{flex:1;min-width:0;height:1.1em}
#history{display:block;margin:0 .16em;width:calc(100% - .32em);height:.8em;transition:opacity .4s}
.dim #trace,.dim #heart{opacity:.35}
.off #o,.off #history{opacity:0}
.beat #heart{animation:beat .35s ease-out}
@keyframes beat{0%{transform:scale(1.3)}100%{transform:scale(1)}}
[hidden]{display:none!important}
</style></head>
<body class="off"><div id="o"><div id="rate"><svg id="heart" viewBox="0 0 24 22" aria-hidden="true">
<path d="M12 21.5C4.5 15.6 0 11.5 0 6.6 0 3 2.8 0 6.4 0 8.8 0 10.9 1.3 12 3.3 13.1 1.3 15.2 0 17.6 0 21.2 0 24 3 24 6.6 24 11.5 19.5 15.6 12 21.5Z"/>
</svg><span id="bpm">--</span></div><canvas id="trace"></canvas></div><canvas id="history"></canvas>
<script>
"use strict";
(function () {
  const q = new URLSearchParams(location.search);
  const $ = (id) => document.getElementById(id);
  const body = document.body, rateBox = $("rate"), bpm = $("bpm"), tc = $("trace"), hc = $("history");

  // ---- settings, each checked; anything else falls back to its default
  function word(name, pattern, fallback) {
    const v = q.get(name);
    return v !== null && pattern.test(v) ? v : fallback;
  }
  function number(name, lo, hi, fallback) {
    const v = word(name, /^\d{1,4}$/, "");
    return v !== "" && +v >= lo && +v <= hi ? +v : fallback;
  }
  function isColour(v) {
    return v !== null && v.length <= 64 && /^[#\w(),.%\s\/+-]+$/.test(v) &&
      !/^\s*(inherit|initial|unset|revert|revert-layer|currentcolor)\s*$/i.test(v) &&
      !/(var|env|attr)\(/i.test(v) && CSS.supports("color", v);
  }
  function colour(name, fallback) {
    const v = q.get(name);
    return isColour(v) ? v : fallback;
  }
  // zones=100,140 (1 to 5 ascending rates) and one colour more in zonecolors;
  // anything wrong in either and there are no zones at all.
  function zoneSettings() {
    const t = word("zones", /^\d{1,3}(,\d{1,3}){0,4}$/, "");
    const c = q.get("zonecolors");
    if (!t || c === null || c.length > 400) return null;
    const limits = t.split(",").map(Number);
    const colours = c.split(/,(?![^(]*\))/);  // commas inside rgb(...) belong to the colour
    const ok = limits.every((v, i) => v >= 1 && v <= 254 && (i === 0 || v > limits[i - 1])) &&
      colours.length === limits.length + 1 && colours.every(isColour);
    return ok ? {limits, colours} : null;
  }
  const parts = word("parts", /^(rate|trace|history)(,(rate|trace|history)){0,2}$/, "rate,trace").split(",");
  const digits = colour("color", "#fff");
  const line = colour("trace", "#ff3d5a");
  const shadow = q.get("shadow") === "none" ? "transparent" : colour("shadow", "rgba(0,0,0,.7)");
  const font = word("font", /^[A-Za-z0-9 _-]{1,48}$/, "");
  const hide = word("nolive", /^(dash|hide)$/, "dash") === "hide";
  const span = number("span", 1, 30, 4);  // seconds of signal across the trace
  const style = body.style;
  style.fontSize = number("size", 12, 400, 64) + "px";
  style.fontWeight = word("weight", /^([1-9]00|normal|bold)$/, "700");
  style.color = digits;
  style.setProperty("--shadow", shadow);
  style.setProperty("--trace", line);
  const zones = zoneSettings();
  if (font) style.fontFamily = '"' + font + '","Segoe UI","DejaVu Sans",Arial,sans-serif';
  rateBox.hidden = !parts.includes("rate");
  tc.hidden = !parts.includes("trace");
  hc.hidden = !parts.includes("history");

  // ---- what the program sent
  const CAP = 12000, RING = 400, RATES = 200;  // RING and RATES: what the program's rings hold
  const samples = new Uint16Array(CAP);
  let head = 0, count = 0;        // next slot, samples held
  let rates = [];                 // beat rates, oldest first
  let latest = null;              // the newest rate, or null
  let state = "";                 // the program's state word; "" while not connected
  let perSecond = 0;              // samples a second, measured; 0 until known
  let batchStart = 0, batchCount = 0, replay = true;
  let dirty = true;               // something to draw at the next frame
  let zone = -1;                  // the live rate's zone, -1 while none

  // A rising rate enters a zone at its threshold; a falling one leaves it
  // only when more than 3 below, so a rate on the edge does not flicker.
  function nextZone(rate) {
    let reached = 0;
    while (reached < zones.limits.length && rate >= zones.limits[reached]) reached++;
    if (zone < 0 || reached >= zone) return reached;
    let z = zone;
    while (z > reached && rate + 3 < zones.limits[z - 1]) z--;
    return z;
  }
  function showZone() {
    if (!zones) return;
    if (zone < 0) {
      rateBox.style.color = "";
      rateBox.style.removeProperty("--trace");
    } else {
      rateBox.style.color = zones.colours[zone];
      rateBox.style.setProperty("--trace", zones.colours[zone]);
    }
  }

  function show() {
    const live = state === "live";
    bpm.textContent = live && latest !== null ? String(latest) : "--";
    body.dataset.state = state || "offline";
    body.classList.toggle("dim", !live && !hide);
    body.classList.toggle("off", !live && hide);
    // The first rate of a connection can come just before its "live".
    if (!live) zone = -1;
    else if (zones && zone < 0 && latest !== null) zone = nextZone(latest);
    showZone();
  }
  function forget() {
    head = count = 0;
    rates = [];
    latest = null;
    zone = -1;
    dirty = true;
  }
  function onSamples(e) {
    let n = 0;
    for (const t of e.data.split(",")) {
      if (!/^\d{1,5}$/.test(t)) continue;
      samples[head] = Math.min(+t, 65535);
      head = (head + 1) % CAP;
      n++;
    }
    count = Math.min(CAP, count + n);
    dirty = true;
    // The pace is measured on the stream, not on the backlog a connection starts with.
    const now = performance.now();
    if (replay) { replay = false; return; }
    if (!batchStart) { batchStart = now; batchCount = 0; return; }
    batchCount += n;
    if (now - batchStart >= 2000) {
      perSecond = batchCount * 1000 / (now - batchStart);
      batchStart = now;
      batchCount = 0;
    }
  }
  function onRate(e) {
    if (!/^\d{1,3}$/.test(e.data)) return;
    latest = +e.data;
    rates.push(latest);
    if (rates.length > RATES) rates.shift();
    dirty = true;
    if (zones && state === "live") zone = nextZone(latest);
    show();
    if (state === "live") {
      rateBox.classList.remove("beat");
      void rateBox.offsetWidth;  // restarts the heart's beat
      rateBox.classList.add("beat");
    }
  }
  function connect() {
    const es = new EventSource("/events");
    es.onopen = () => { forget(); replay = true; batchStart = 0; };
    es.addEventListener("state", (e) => {
      if (/^(no-port|absent|busy|live|stale|gone)$/.test(e.data)) { state = e.data; show(); }
    });
    es.addEventListener("samples", onSamples);
    es.addEventListener("rate", onRate);
    es.addEventListener("clear", () => { forget(); show(); });
    es.onerror = () => {
      state = "";
      show();
      // A refused answer ends an EventSource for good; a lost connection does not.
      if (es.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
    };
  }

  // ---- drawing, once a frame when something changed
  function fit(c) {
    const r = devicePixelRatio || 1, w = Math.round(c.clientWidth * r), h = Math.round(c.clientHeight * r);
    if (c.width !== w || c.height !== h) { c.width = w; c.height = h; }
    const g = c.getContext("2d");
    g.clearRect(0, 0, w, h);
    return g;
  }
  function stroke(g, width, colourOfLine) {
    g.lineJoin = g.lineCap = "round";
    g.lineWidth = width;
    g.shadowColor = shadow;
    g.shadowBlur = width * 1.5;
    g.strokeStyle = colourOfLine;
    g.stroke();
  }
  // Plots n values, newest at the right, `slots` across the width; where
  // several fall on one pixel column it draws their range, so peaks survive.
  function plot(g, n, slots, value, top, bottom, pad) {
    const w = g.canvas.width, step = (w - 2 * pad) / Math.max(1, slots - 1);
    let column = -1, lo = 0, hi = 0;
    g.beginPath();
    for (let i = 0; i < n; i++) {
      const x = w - pad - (n - 1 - i) * step, y = bottom + (top - bottom) * value(i);
      if (step >= 1) { if (i) g.lineTo(x, y); else g.moveTo(x, y); continue; }
      const c = Math.floor(x);
      if (c !== column) {
        if (column < 0) g.moveTo(c, y); else { g.lineTo(column, lo); g.lineTo(column, hi); }
        column = c; lo = hi = y;
      } else { lo = Math.max(lo, y); hi = Math.min(hi, y); }
    }
    if (column >= 0) { g.lineTo(column, lo); g.lineTo(column, hi); }
  }
  function drawTrace() {
    const g = fit(tc), h = tc.height, width = Math.max(2, h / 16);
    const slots = perSecond ? Math.max(50, Math.min(CAP, Math.round(perSecond * span))) : RING;
    const n = Math.min(count, slots);
    if (n < 2) return;
    // 0 at the bottom, 1000 at the top, as the program draws it.
    plot(g, n, slots, (i) => Math.min(samples[(head - n + i + CAP) % CAP], 1000) / 1000, 1.5 * width, h - 1.5 * width, width);
    stroke(g, width, line);
  }
  function drawHistory() {
    const g = fit(hc), w = hc.width, h = hc.height, n = rates.length;
    if (n < 2) return;
    let lo = Math.min(...rates), hi = Math.max(...rates);
    if (hi - lo < 20) { const mid = (lo + hi) / 2; lo = mid - 10; hi = mid + 10; }
    const width = Math.max(2, h / 18), label = Math.round(h / 3.2), pad = width * 1.5;
    g.font = style.fontWeight + " " + label + "px " + getComputedStyle(body).fontFamily;
    g.textBaseline = "top";
    g.shadowColor = shadow;
    g.shadowBlur = width * 2;
    g.fillStyle = digits;
    g.fillText(String(Math.round(hi)), pad, pad);
    g.textBaseline = "bottom";
    g.fillText(String(Math.round(lo)), pad, h - pad);
    const left = g.measureText("000").width + 2 * pad;
    g.save();
    g.beginPath();
    g.rect(left, 0, w - left, h);
    g.clip();
    plot(g, n, Math.min(RATES, Math.max(n, 60)), (i) => (rates[i] - lo) / (hi - lo), pad, h - pad, pad);
    stroke(g, width, digits);
    g.restore();
  }
  function frame() {
    if (dirty) {
      dirty = false;
      if (!tc.hidden) drawTrace();
      if (!hc.hidden) drawHistory();
    }
    requestAnimationFrame(frame);
  }
  addEventListener("resize", () => { dirty = true; });
  show();
  connect();
  requestAnimationFrame(frame);
})();
</script></body></html>
)page";

extern const unsigned kOverlayPageLength = sizeof(kOverlayPage) - 1;
