// Checks the page's coordinate conversions under Node.js:
//   node coordinate_text.js REFERENCE_PROGRAM [SHARED_VECTORS_JSON]
// REFERENCE_PROGRAM prints vectors computed with the machine's extended-precision arithmetic; the
// shared vectors file (when present) is the one the map-data tests use for the C++ conversion.
'use strict';
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const page = require(path.join(__dirname, '..', 'terravue.js'));

let passed = 0;
let failed = 0;
function check(name, fn) {
  try {
    fn();
    passed++;
  } catch (e) {
    failed++;
    console.log(`FAIL ${name}: ${e.message}`);
  }
}

function checkVectors(label, vectors) {
  let mismatches = [];
  for (const v of vectors) {
    const got = page.tvDegreesToDigits(v.degrees, v.latitude);
    if (got !== v.text) {
      mismatches.push(`${v.degrees} (${v.latitude ? 'lat' : 'lng'}): page ${got}, expected ${v.text}`);
    }
  }
  check(`${label}: ${vectors.length} vectors agree`, () => {
    assert.ok(vectors.length > 0, 'no vectors');
    assert.deepStrictEqual(mismatches.slice(0, 10), []);
  });
}

const reference = process.argv[2];
if (reference) {
  const vectors = JSON.parse(execFileSync(reference, { maxBuffer: 64 * 1024 * 1024 }).toString());
  checkVectors('extended-precision reference', vectors);
  // The same values in plain double arithmetic would differ somewhere: the vectors do sit on boundaries.
  check('plain double arithmetic would get some of them wrong', () => {
    const naive = (x) => {
      const a = Math.abs(x) * 60;
      const m = Math.trunc(a);
      const b = (a - m) * 60;
      const s = Math.trunc(b);
      return Math.trunc((b - s) * 1000);
    };
    const differing = vectors.filter((v) => Number(v.text.slice(-3)) !== naive(v.degrees));
    assert.ok(differing.length > 0);
  });
}
const shared = process.argv[3];
if (shared && fs.existsSync(shared)) {
  checkVectors('shared vectors', JSON.parse(fs.readFileSync(shared, 'utf8')));
} else {
  console.log('shared vectors file not present yet; checked the reference vectors only');
}

check('the documented examples', () => {
  assert.strictEqual(page.tvDegreesToDigits(35.625788, true), '35:37:32.836');
  assert.strictEqual(page.tvDegreesToDigits(-139.742038, false), '139:44:31.336');
  assert.strictEqual(page.tvDegreesToDigits(0.5, true), '00:30:00.000');
  assert.strictEqual(page.tvDegreesToDigits(0.5, false), '000:30:00.000');
});
check('letters follow the sign', () => {
  assert.strictEqual(page.tvCoordinateText(-33.5, true), 'S:33:30:00.000');
  assert.strictEqual(page.tvCoordinateText(33.5, true), 'N:33:30:00.000');
  assert.strictEqual(page.tvCoordinateText(-0.25, false), 'W:000:15:00.000');
  assert.strictEqual(page.tvCoordinateText(0, false), 'E:000:00:00.000');
  assert.strictEqual(page.tvCoordinateText(NaN, true), 'X:99:99:99.999');
  assert.strictEqual(page.tvCoordinateText(Infinity, false), 'X:999:99:99.999');
});
check('texts parse to degrees and placeholders to nothing', () => {
  assert.ok(Math.abs(page.tvParseCoordinate('N:35:37:32.828', true) - (35 + 37 / 60 + 32.828 / 3600)) < 1e-12);
  assert.ok(Math.abs(page.tvParseCoordinate('W:139:44:31.338', false) + (139 + 44 / 60 + 31.338 / 3600)) < 1e-12);
  assert.ok(Math.abs(page.tvParseCoordinate('S:05:07:09.5', true) + (5 + 7 / 60 + 9.005 / 3600)) < 1e-12);
  assert.strictEqual(page.tvParseCoordinate('X:99:99:99.999', true), null);
  assert.strictEqual(page.tvParseCoordinate('X:999:99:99.999', false), null);
  assert.strictEqual(page.tvParseCoordinate('', true), null);
  assert.strictEqual(page.tvParseCoordinate('E:10:00:00.000', true), null);
  assert.strictEqual(page.tvParseCoordinate('N:95:00:00.000', true), null);
  assert.strictEqual(page.tvParseCoordinate('N:35:37:32.828<script>', true), null);
});
// Text to degrees and back can lose one millisecond to truncation, which is why the page never
// rewrites the text of a picture that was not moved.
check('parsing and writing again gives the text back or one millisecond less', () => {
  const millis = (t) => {
    const [, d, m, s, ms] = /^.:(\d+):(\d+):(\d+)\.(\d+)$/.exec(t).map(Number);
    return ((d * 60 + m) * 60 + s) * 1000 + ms;
  };
  for (const text of ['N:35:37:32.828', 'S:00:00:00.001', 'N:89:59:59.999', 'E:139:44:31.338', 'W:179:59:59.999',
                      'E:000:00:00.000', 'W:012:34:56.789']) {
    const latitude = text.length === 14;
    const again = page.tvCoordinateText(page.tvParseCoordinate(text, latitude), latitude);
    assert.strictEqual(again[0], text[0] === 'S' && again.endsWith('00:00:00.000') ? 'S' : text[0]);
    const lost = millis(text) - millis(again);
    assert.ok(lost === 0 || lost === 1, `${text} came back as ${again}`);
  }
});
check('dragged positions are brought into range', () => {
  assert.deepStrictEqual(page.tvNormalize(10, 200), { lat: 10, lng: -160 });
  assert.deepStrictEqual(page.tvNormalize(10, -200), { lat: 10, lng: 160 });
  assert.deepStrictEqual(page.tvNormalize(10, 540), { lat: 10, lng: 180 - 360 });
  assert.deepStrictEqual(page.tvNormalize(10, 180), { lat: 10, lng: 180 });
  assert.strictEqual(page.tvNormalize(89.9, 0).lat, 85.0511287798066);
  assert.strictEqual(page.tvNormalize(-95, 0).lat, -85.0511287798066);
  assert.strictEqual(page.tvCoordinateText(page.tvNormalize(0, 200).lng, false), 'W:160:00:00.000');
});
check('thumbnail paths of a saved page stay in its folder', () => {
  assert.strictEqual(page.tvSafeRelative('cache_0.jpg'), 'cache_0.jpg');
  assert.strictEqual(page.tvSafeRelative('Trip\\cache 1.jpg'), 'Trip/cache%201.jpg');
  assert.strictEqual(page.tvSafeRelative('../x.jpg'), '');
  assert.strictEqual(page.tvSafeRelative('/etc/passwd'), '');
  assert.strictEqual(page.tvSafeRelative('javascript:alert(1)'), '');
  assert.strictEqual(page.tvSafeRelative(''), '');
});

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
