#!/usr/bin/env node
// Draws the configurator's favicon (the mark of Web/images/logo.svg: a clock
// face on a bus line) and writes it as Web/images/favicon.ico with 16, 32
// and 48 pixel images, 32-bit BGRA each. No image library: each pixel is
// the average of 8 x 8 samples of the shapes below, in the 64-unit space of
// the SVG.
//
//   node tests/browser/tools/make_favicon.js [OUTPUT]
'use strict';

const fs = require('fs');
const path = require('path');

const teal = [0x0b, 0x6e, 0x80];
const dark = [0x06, 0x3f, 0x4a];
const light = [0x9f, 0xe3, 0xec];
const white = [0xff, 0xff, 0xff];

// Distance helpers (negative inside).
const roundRect = (x, y, x0, y0, x1, y1, r) => {
  const cx = Math.max(x0 + r - x, 0, x - (x1 - r));
  const cy = Math.max(y0 + r - y, 0, y - (y1 - r));
  const inner = Math.min(Math.max(x - x1, x0 - x, y - y1, y0 - y), 0);
  return Math.hypot(cx, cy) - r + inner;
};
const circle = (x, y, cx, cy, r) => Math.hypot(x - cx, y - cy) - r;
const segment = (x, y, ax, ay, bx, by, half) => {
  const dx = bx - ax, dy = by - ay;
  const t = Math.max(0, Math.min(1, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)));
  return Math.hypot(x - (ax + t * dx), y - (ay + t * dy)) - half;
};

// Colour of one sample, or null outside the mark. Later shapes paint over
// earlier ones, as in the SVG.
function sample(x, y) {
  if (roundRect(x, y, 2, 2, 62, 62, 14) > 0) return null;
  let c = teal;
  if (segment(x, y, 6, 46, 58, 46, 2.2) <= 0 || circle(x, y, 14, 46, 4) <= 0 || circle(x, y, 50, 46, 4) <= 0) c = light;
  if (circle(x, y, 32, 27, 16.5) <= 0) c = dark;
  if (circle(x, y, 32, 27, 13.5) <= 0) c = white;
  if (segment(x, y, 32, 17, 32, 27, 2.4) <= 0 || segment(x, y, 32, 27, 39, 31.5, 2.4) <= 0) c = dark;
  return c;
}

function render(size) {
  const n = 8;
  const pixels = Buffer.alloc(size * size * 4);
  for (let py = 0; py < size; ++py) {
    for (let px = 0; px < size; ++px) {
      let r = 0, g = 0, b = 0, a = 0;
      for (let sy = 0; sy < n; ++sy) {
        for (let sx = 0; sx < n; ++sx) {
          const c = sample(((px + (sx + 0.5) / n) * 64) / size, ((py + (sy + 0.5) / n) * 64) / size);
          if (!c) continue;
          r += c[0]; g += c[1]; b += c[2]; a += 1;
        }
      }
      // Bottom-up rows, BGRA, colour not premultiplied.
      const at = ((size - 1 - py) * size + px) * 4;
      pixels[at] = a ? Math.round(b / a) : 0;
      pixels[at + 1] = a ? Math.round(g / a) : 0;
      pixels[at + 2] = a ? Math.round(r / a) : 0;
      pixels[at + 3] = Math.round((255 * a) / (n * n));
    }
  }
  const header = Buffer.alloc(40);
  header.writeUInt32LE(40, 0);
  header.writeInt32LE(size, 4);
  header.writeInt32LE(size * 2, 8);  // colour rows plus the AND mask rows
  header.writeUInt16LE(1, 12);
  header.writeUInt16LE(32, 14);
  header.writeUInt32LE(pixels.length, 20);
  const maskRow = Math.ceil(size / 32) * 4;
  const mask = Buffer.alloc(maskRow * size);  // all 0: the alpha channel decides
  return Buffer.concat([header, pixels, mask]);
}

function ico(sizes) {
  const images = sizes.map(render);
  const head = Buffer.alloc(6 + 16 * sizes.length);
  head.writeUInt16LE(0, 0);
  head.writeUInt16LE(1, 2);
  head.writeUInt16LE(sizes.length, 4);
  let offset = head.length;
  sizes.forEach((size, i) => {
    const at = 6 + 16 * i;
    head.writeUInt8(size % 256, at);
    head.writeUInt8(size % 256, at + 1);
    head.writeUInt16LE(1, at + 4);
    head.writeUInt16LE(32, at + 6);
    head.writeUInt32LE(images[i].length, at + 8);
    head.writeUInt32LE(offset, at + 12);
    offset += images[i].length;
  });
  return Buffer.concat([head, ...images]);
}

const out = process.argv[2] || path.join(__dirname, '..', '..', '..', 'Web', 'images', 'favicon.ico');
fs.writeFileSync(out, ico([16, 32, 48]));
console.log('wrote ' + out);
