// Reads and writes documents with the reference library for the interop tests.
//   node check.mjs describe FILE   prints FILE as the library sees it (see describe())
//   node check.mjs merge FILE...   loads each FILE as a replica, merges them in order into the
//                                  first and prints the description of the result
//   node check.mjs make DIR        writes DIR/doc.bin (library save), DIR/changes.bin (every
//                                  change chunk) and prints the description of that document
//   node check.mjs edits           prints, as hex, the change chunks of a fixed script of edits
//                                  (fixed actors and times) that the C++ side repeats
//   node check.mjs time FILE N     loads FILE N times and prints the median load time in ms
import * as A from "@automerge/automerge";
import fs from "fs";
import path from "path";

const hex = (bytes) => Buffer.from(bytes).toString("hex");

function lamport(id) {
  const at = id.indexOf("@");
  return [Number(id.slice(0, at)), id.slice(at + 1)];
}

function byOpId(a, b) {
  const [ca, aa] = lamport(a[a.length - 1]);
  const [cb, ab] = lamport(b[b.length - 1]);
  if (ca !== cb) return ca - cb;
  return aa < ab ? -1 : aa > ab ? 1 : 0;
}

function scalar(type, value) {
  switch (type) {
    case "str": return value;
    case "int": case "uint": case "counter": return String(value);
    case "timestamp": return String(value instanceof Date ? value.getTime() : value);
    case "f64": {
      const view = new DataView(new ArrayBuffer(8));
      view.setFloat64(0, value, true);
      return hex(new Uint8Array(view.buffer));
    }
    case "boolean": return String(value);
    case "null": return "";
    default: return hex(value);  // bytes, unknownN
  }
}

// Every value at a key or index, in op id order, objects described recursively.
function values(h, obj, prop) {
  return h.getAll(obj, prop).sort(byOpId).map((entry) => {
    const [type] = entry;
    if (type === "map" || type === "list" || type === "text") {
      return { id: entry[1], ...object(h, entry[1], type) };
    }
    return { type, value: scalar(type, entry[1]) };
  });
}

function object(h, obj, type) {
  if (type === "text") return { text: h.text(obj) };
  if (type === "list") {
    const out = [];
    for (let i = 0; i < h.length(obj); i++) out.push(values(h, obj, i));
    return { list: out };
  }
  const map = {};
  for (const key of h.keys(obj)) map[key] = values(h, obj, key);
  return { map };
}

function describe(doc) {
  const h = A.getBackend(doc);
  return { heads: A.getHeads(doc).slice().sort(), root: object(h, "_root", "map") };
}

const [cmd, arg] = process.argv.slice(2);
if (cmd === "describe") {
  const doc = A.load(new Uint8Array(fs.readFileSync(arg)));
  const out = describe(doc);
  // Saved again by the library (as a document chunk) and read back: same heads only when our
  // change encoding is the canonical one.
  out.resaved_heads = A.getHeads(A.load(A.save(doc))).slice().sort();
  console.log(JSON.stringify(out));
} else if (cmd === "merge") {
  const [first, ...rest] = process.argv.slice(3).map((f) => A.load(new Uint8Array(fs.readFileSync(f))));
  console.log(JSON.stringify(describe(rest.reduce((all, doc) => A.merge(all, doc), first))));
} else if (cmd === "make") {
  let a = A.init({ actor: "aa01" });
  a = A.change(a, { time: 1, message: "seed" }, (d) => {
    // Values are put one by one: inside an object literal the library takes numbers as floats.
    d.connections = {};
    d.connections.c1 = {};
    d.connections.c1.name = "Caf\u00e9 \u{1F600} d\u00f8r";
    d.connections.c1.host = new A.RawString("h1");
    d.connections.c1.port = new A.Int(22);
    d.counter = new A.Counter(5);
    d.scalars = {};
    const s = d.scalars;
    s.str = new A.RawString("s\u00e9");
    s.int = new A.Int(-7);
    s.uint = new A.Uint(7);
    s.f64 = 0.1;
    s.ts = new Date(1700000000123);
    s.yes = true;
    s.no = false;
    s.nothing = null;
    s.bytes = new Uint8Array([0, 1, 254]);
    d.list = [];
    d.list.push(1);
    A.insertAt(d.list, 1, new A.RawString("two"));
    d.list.push({});
    d.list[2].three = new A.Int(3);
    d.gone = 1;
  });
  let b = A.clone(a, { actor: "bb02" });
  a = A.change(a, { time: 2 }, (d) => {
    d.connections.c1.host = new A.RawString("from a");
    A.splice(d, ["connections", "c1", "name"], 0, 1, "K");   // UTF-16 positions
    d.counter.increment(3);
  });
  b = A.change(b, { time: 3 }, (d) => {
    d.connections.c1.host = new A.RawString("from b");
    A.splice(d, ["connections", "c1", "name"], 7, 1, "\u{1F680}"); // the emoji is two units
    d.counter.increment(-1);
    delete d.gone;
    d.list.splice(1, 1);
  });
  a = A.merge(a, b);
  fs.writeFileSync(path.join(arg, "doc.bin"), A.save(a));
  const chunks = A.getAllChanges(a);
  fs.writeFileSync(path.join(arg, "changes.bin"), Buffer.concat(chunks.map((c) => Buffer.from(c))));
  console.log(JSON.stringify(describe(a)));
} else if (cmd === "edits") {
  const out = [];
  const last = (doc) => out.push(hex(A.getLastLocalChange(doc)));
  let d = A.init({ actor: "0102" });
  d = A.change(d, { time: 0 }, (x) => { x.k = new A.RawString("v"); });
  last(d);
  d = A.change(d, { time: 5, message: "m" }, (x) => { x.t = "ab\u{1F600}"; });
  last(d);
  d = A.change(d, { time: 6 }, (x) => { A.splice(x, ["t"], 1, 3, "c\u00e9"); });  // UTF-16: b and the emoji
  last(d);
  d = A.change(d, { time: 0 }, (x) => {
    x.c = new A.Counter(1); x.d = true; x.f = 1.5; x.n = null; x.u = new A.Uint(7);
    x.ts = new Date(5); x.b = new Uint8Array([1, 2]); x.i = new A.Int(-3);
  });
  last(d);
  d = A.change(d, { time: 0 }, (x) => { x.c.increment(2); delete x.d; x.m = {}; x.m.l = []; x.m.l.push(1); });
  last(d);
  // A change that mentions other actors: they are listed in byte order.
  let p = A.change(A.init({ actor: "02" }), { time: 0 }, (x) => { x.p = 1; });
  let q = A.change(A.init({ actor: "01" }), { time: 0 }, (x) => { x.q = 1; });
  let r = A.merge(A.clone(p, { actor: "03" }), q);
  r = A.change(r, { time: 0 }, (x) => { x.p = 2; x.q = 2; });
  last(r);
  // The change that makes the saved connections' map on every replica.
  last(A.change(A.init({ actor: "7a61766f2f636f6e6e656374696f6e73" }), { time: 0 }, (x) => { x.connections = {}; }));
  console.log(JSON.stringify(out));
} else if (cmd === "time") {
  const bytes = new Uint8Array(fs.readFileSync(arg));
  const times = [];
  for (let i = 0; i < Number(process.argv[4] || 3); i++) {
    const start = performance.now();
    const doc = A.load(bytes);
    times.push(performance.now() - start);
    A.free(doc);
  }
  times.sort((x, y) => x - y);
  console.log(JSON.stringify({ median_ms: times[Math.floor(times.length / 2)] }));
} else {
  console.error("usage: check.mjs describe FILE | merge FILE... | make DIR | edits | time FILE N");
  process.exit(2);
}
