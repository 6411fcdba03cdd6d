// The builder page. Like the overlay, everything it needs is in it.
#include "web/builder_page.h"

extern const char kBuilderPage[] = R"page(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Vintra overlay builder</title>
<style>
body{font:15px system-ui,"Segoe UI","DejaVu Sans",sans-serif;margin:1em 1.5em;color:#222;background:#f6f6f6}
main{display:flex;gap:2em;flex-wrap:wrap;align-items:flex-start}
form{display:grid;grid-template-columns:auto auto;gap:.45em .8em;align-items:center}
section{flex:1;min-width:20em}
#stage{overflow:auto;max-width:100%;border:1px solid #999}
.dark{background:#1d2130}.light{background:#f2f2f2}
.checker{background:repeating-conic-gradient(#aaa 0 25%,#eee 0 50%) 0 0/20px 20px}
iframe{display:block;border:0;background:transparent}
#url{width:100%;box-sizing:border-box;font:13px monospace;padding:.3em}
</style></head><body>
<h1>Overlay builder</h1>
<p>Pick the overlay's look; copy the URL into an OBS <b>Browser</b> source with the width and height below.
<a href="/">Back to the status page</a>.</p>
<main><form id="controls">
<span>Parts</span><span><label><input type="checkbox" name="part" id="part-rate" value="rate" checked> rate</label>
<label><input type="checkbox" name="part" id="part-trace" value="trace" checked> trace</label>
<label><input type="checkbox" name="part" id="part-history" value="history"> history</label></span>
<label for="color">Digits</label><input type="color" id="color" value="#ffffff">
<label for="trace">Trace and heart</label><input type="color" id="trace" value="#ff3d5a">
<label for="size">Size (px)</label><input type="number" id="size" min="12" max="400" value="64">
<label for="weight">Weight</label><select id="weight"><option>100</option><option>200</option><option>300</option>
<option>400</option><option>500</option><option>600</option><option selected>700</option><option>800</option>
<option>900</option></select>
<label for="font">Font</label><input id="font" maxlength="48" placeholder="Segoe UI">
<label for="zones">Zones (bpm)</label><input id="zones" placeholder="100,140">
<label for="zonecolors">Zone colours</label><input id="zonecolors" placeholder="#ffffff,#ffcc00,#ff3d5a">
<label for="nolive">When not live</label><select id="nolive"><option value="dash">show --</option>
<option value="hide">hide</option></select>
<label for="span">Trace span (s)</label><input type="number" id="span" min="1" max="30" value="4">
<label for="background">Preview over</label><select id="background"><option value="dark">dark</option>
<option value="light">light</option><option value="checker">checkerboard</option></select>
</form>
<section><div id="stage" class="dark"><iframe id="preview" title="Overlay preview"></iframe></div>
<p><label for="url">URL</label> <button type="button" id="copy">Copy</button> <span id="copied"></span>
<input id="url" readonly></p>
<p>Browser source: width <b id="width">640</b>, height <b id="height">100</b>.</p></section></main>
<script>
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  const defaults = {color: "#ffffff", trace: "#ff3d5a", size: "64", weight: "700", nolive: "dash", span: "4"};
  let shown = "";

  // The overlay's query from the controls; settings left at their defaults
  // stay out, and commas stay readable.
  function query() {
    const out = [];
    const put = (name, value) => out.push(name + "=" + encodeURIComponent(value).replace(/%2C/g, ","));
    const parts = [...document.querySelectorAll("input[name=part]:checked")].map((e) => e.value).join(",");
    if (parts && parts !== "rate,trace") put("parts", parts);
    for (const name of ["color", "trace", "size", "weight"]) {
      if ($(name).value !== defaults[name]) put(name, $(name).value);
    }
    if ($("font").value.trim()) put("font", $("font").value.trim());
    if ($("zones").value.trim() && $("zonecolors").value.trim()) {
      put("zones", $("zones").value.replace(/\s+/g, ""));
      put("zonecolors", $("zonecolors").value.replace(/\s+/g, ""));
    }
    for (const name of ["nolive", "span"]) {
      if ($(name).value !== defaults[name]) put(name, $(name).value);
    }
    return out.length ? "?" + out.join("&") : "";
  }
  // The browser source's size: the overlay's 640 by 100 (160 with the
  // history) at 64 px digits, scaled with the size.
  function update() {
    const q = query();
    const size = Math.min(400, Math.max(12, +$("size").value || 64)), scale = size / 64;
    const history = $("part-history").checked;
    const width = Math.round(640 * scale), height = Math.round((history ? 160 : 100) * scale);
    $("url").value = "http://127.0.0.1:" + (location.port || "80") + "/overlay" + q;
    $("width").textContent = width;
    $("height").textContent = height;
    const preview = $("preview");
    preview.width = width;
    preview.height = height;
    if (q !== shown || !preview.getAttribute("src")) {
      shown = q;
      preview.src = "/overlay" + q;
    }
    $("stage").className = $("background").value;
  }
  $("controls").addEventListener("input", update);
  $("controls").addEventListener("change", update);
  $("copy").addEventListener("click", () => {
    const said = (text) => { $("copied").textContent = text; };
    if (navigator.clipboard) {
      navigator.clipboard.writeText($("url").value).then(() => said("copied"), () => said("select and copy it"));
    } else {
      $("url").select();
      said(document.execCommand("copy") ? "copied" : "select and copy it");
    }
  });
  update();
})();
</script></body></html>
)page";

extern const unsigned kBuilderPageLength = sizeof(kBuilderPage) - 1;
