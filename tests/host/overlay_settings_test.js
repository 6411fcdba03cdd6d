// The overlay page's colour settings under Node: the page's own script, taken
// from the program's source, runs against a stand-in page whose CSS.supports
// accepts everything, as a browser does for the CSS-wide keywords. So only
// the page's own check stands between the address and the style.
//   node overlay_settings_test.js web/overlay_page.cpp
"use strict";
const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const source = fs.readFileSync(process.argv[2], "utf8");
const script = source.slice(source.indexOf("<script>") + 8, source.indexOf("</script>"));

// Runs the page's script with `query` as the address's query string; the
// colours it set: the digits, the trace and the shadow.
function coloursFor(query) {
  const element = () => ({ style: { setProperty() {} }, classList: { toggle() {}, add() {}, remove() {} },
                           dataset: {}, hidden: false });
  const body = element();
  body.style = { setProperty(name, value) { this[name] = value; } };
  const page = {
    location: { search: query },
    document: { body, getElementById: element },
    CSS: { supports: () => true },
    EventSource: function () { this.addEventListener = () => {}; },
    URLSearchParams, performance, devicePixelRatio: 1,
    requestAnimationFrame() {}, addEventListener() {}, setTimeout() {}, getComputedStyle: () => ({}),
  };
  vm.runInNewContext(script, page);
  return { color: body.style.color, trace: body.style["--trace"], shadow: body.style["--shadow"] };
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
console.log("overlay colour settings: " + checked + " CSS-wide keywords fell back to the defaults");
