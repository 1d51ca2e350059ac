// pellorin-verify.js reads its WebAssembly from beside itself: Node's fetch takes no file paths, and a
// copy inside the script (base64) would cost its decoding on every start.
Module['wasmBinary'] = require('fs').readFileSync(require('path').join(__dirname, 'pellorin-verify.wasm'));
