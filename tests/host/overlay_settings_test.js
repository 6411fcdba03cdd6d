// The overlay page's colour and zone settings under Node: the page's own
// script, taken from the program's source, runs against a stand-in page whose
// CSS.supports accepts everything, as a browser does for the CSS-wide
// keywords. So only the page's own check stands between the address and the
// style.
//   node overlay_settings_test.js web/overlay_page.cpp
"use strict";
const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const source = fs.readFileSync(process.argv[2], "utf8");
const script = source.slice(source.indexOf("<script>") + 8, source.indexOf("</script>"));

// Runs the page's script with `query` as the address's query string. Gives
// the body, the rate's box, and send(type, data) to deliver a stream event.
function load(query) {
  const element = () => ({ style: { setProperty(name, value) { this[name] = value; },
                                    removeProperty(name) { delete this[name]; } },
                           classList: { toggle() {}, add() {}, remove() {} }, dataset: {}, hidden: false });
  const elements = {};
  const body = element();
  const listeners = {};
  const page = {
    location: { search: query },
    document: { body, getElementById: (id) => elements[id] || (elements[id] = element()) },
    CSS: { supports: () => true },
    EventSource: function () { this.addEventListener = (type, listener) => { listeners[type] = listener; }; },
    URLSearchParams, performance, devicePixelRatio: 1,
    requestAnimationFrame() {}, addEventListener() {}, setTimeout() {}, getComputedStyle: () => ({}),
  };
  vm.runInNewContext(script, page);
  return { body, rate: elements.rate, send: (type, data) => listeners[type]({ data }) };
}

// The colours the page set: the digits, the trace and the shadow.
function coloursFor(query) {
  const style = load(query).body.style;
  return { color: style.color, trace: style["--trace"], shadow: style["--shadow"] };
}

const defaults = coloursFor("");
assert.deepStrictEqual(defaults, { color: "#fff", trace: "#ff3d5a", shadow: "rgba(0,0,0,.7)" });
const keywords = ["inherit", "INHERIT", "Initial", "unset", "revert", "Revert-Layer", "currentcolor",
                  "currentColor", "CURRENTCOLOR", "%20unset%20", "+inherit"];
let checked = 0;
for (const name of Object.keys(defaults)) {
  // A plain colour is taken, so the keywords' fallback is the check's doing.
  assert.strictEqual(coloursFor("?" + name + "=%23123456")[name], "#123456", name);
  for (const keyword of keywords) {
    assert.strictEqual(coloursFor("?" + name + "=" + keyword)[name], defaults[name], name + "=" + keyword);
    ++checked;
  }
}

// Zones: the rate's box takes the live rate's zone colour, entering a zone at
// its threshold and leaving it only more than 3 below, as the program does.
const zoned = load("?zones=100,140&zonecolors=rgb(0,0,255),red,lime");
zoned.send("state", "live");
for (const [rate, colour] of [[90, "rgb(0,0,255)"], [100, "red"], [97, "red"], [96, "rgb(0,0,255)"],
                              [141, "lime"], [96, "rgb(0,0,255)"], [101, "red"]]) {
  zoned.send("rate", String(rate));
  assert.strictEqual(zoned.rate.style.color, colour, "at " + rate);
}
zoned.send("state", "stale");
assert.strictEqual(zoned.rate.style.color, "", "the zone's colour outlived the live state");
// Anything wrong in either setting and there are no zones at all.
const noZones = ["?zones=100,140&zonecolors=blue,red", "?zones=100,140&zonecolors=blue,red,lime,navy",
                 "?zones=100,140&zonecolors=blue,inherit,lime", "?zones=140,100&zonecolors=blue,red,lime",
                 "?zones=100,140"];
for (const query of noZones) {
  const page = load(query);
  page.send("state", "live");
  page.send("rate", "141");
  assert.strictEqual(page.rate.style.color, undefined, query);
}
console.log("overlay settings: " + checked + " CSS-wide keywords fell back to the defaults; zones checked");
