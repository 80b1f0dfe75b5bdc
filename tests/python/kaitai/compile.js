// Compile Kaitai Struct descriptions to Python with the kaitai-struct-compiler
// package installed under a directory:
//   node compile.js <dir holding node_modules> <out dir> <description.json>...
// Each description is the .ksy already read into JSON (Node has no YAML reader).
"use strict";
const fs = require("fs");
const path = require("path");

const [prefix, outDir, ...inputs] = process.argv.slice(2);
const loaded = require(path.resolve(prefix, "node_modules", "kaitai-struct-compiler"));
// Up to 0.10 the package gives a constructor, from 0.11 the compiler itself.
const compiler = typeof loaded === "function" ? new loaded() : loaded;

(async () => {
  fs.mkdirSync(outDir, { recursive: true });
  for (const input of inputs) {
    const ksy = JSON.parse(fs.readFileSync(input, "utf8"));
    let files;
    try {
      files = await compiler.compile("python", ksy, null, false);
    } catch (e) {
      console.error(`${input}: ${e && e.message ? e.message : e}`);
      process.exit(1);
    }
    for (const [name, text] of Object.entries(files)) fs.writeFileSync(path.join(outDir, name), text);
  }
  console.log(`compiler ${compiler.version}: ${inputs.length} descriptions into ${outDir}`);
})();
