// Times the program itself: from starting it with photos to the first marker shown in its window,
// to the last thumbnail made, how long the page takes to answer meanwhile (the longest answer to a
// script that reads the page's fields: a frozen window answers late), and its resident memory once
// the thumbnails are there. The machine's load average and cores are reported with them. It also
// drags single markers with the mouse (the browser's own input events), once while the thumbnails
// are being made and five times after, and reports how long each took from the button's release
// to the new position in the page's fields. The program runs offscreen in a fresh home folder; its
// embedded browser is watched through the browser's debugging port.
//
//   node bench/app_timing.mjs PROGRAM PHOTO...
//
// Run with `node --experimental-websocket` (Node 20) or a Node with WebSocket built in. Prints one
// JSON line.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [program, ...photos] = process.argv.slice(2);
const home = fs.mkdtempSync(path.join(os.tmpdir(), 'tv_app_timing_'));
const port = 20000 + Math.floor(Math.random() * 20000);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Resident kilobytes of a process and of its descendants (the browser's own processes).
function residentKiB(pid) {
  const read = (p) => {
    try {
      const status = fs.readFileSync(`/proc/${p}/status`, 'utf8');
      return Number(/VmRSS:\s+(\d+)/.exec(status)?.[1] ?? 0);
    } catch {
      return 0;
    }
  };
  const children = (p) => {
    try {
      return fs.readFileSync(`/proc/${p}/task/${p}/children`, 'utf8').trim().split(/\s+/).filter(Boolean);
    } catch {
      return [];
    }
  };
  let helpers = 0;
  const stack = children(pid);
  while (stack.length) {
    const p = stack.pop();
    helpers += read(p);
    stack.push(...children(p));
  }
  return { program: read(pid), browserHelpers: helpers };
}

const started = Date.now();
const app = spawn(program, photos, {
  stdio: 'ignore',
  env: { ...process.env, HOME: home, XDG_CONFIG_HOME: path.join(home, 'config'), XDG_DATA_HOME: path.join(home, 'data'),
         XDG_CACHE_HOME: path.join(home, 'cache'), QT_QPA_PLATFORM: 'offscreen', QTWEBENGINE_DISABLE_SANDBOX: '1',
         QTWEBENGINE_CHROMIUM_FLAGS: '--disable-gpu', QTWEBENGINE_REMOTE_DEBUGGING: String(port) },
});
let result = { photos: photos.length, cores: os.cpus().length, loadAverage: os.loadavg().map((v) => +v.toFixed(2)) };
try {
  // The page target of the program's window, through the debugging port's target list.
  let target = null;
  while (!target && Date.now() - started < 120000) {
    try {
      const list = await (await fetch(`http://127.0.0.1:${port}/json`)).json();
      target = list.find((t) => t.type === 'page') ?? null;
    } catch {
      // not listening yet
    }
    if (!target) {
      await sleep(20);
    }
  }
  if (!target) {
    throw new Error('the program\'s browser never answered');
  }
  const socket = new WebSocket(target.webSocketDebuggerUrl);
  await new Promise((resolve, reject) => {
    socket.onopen = resolve;
    socket.onerror = reject;
  });
  let next = 0;
  const waiting = new Map();
  socket.onmessage = (event) => {
    const message = JSON.parse(event.data);
    waiting.get(message.id)?.(message);
    waiting.delete(message.id);
  };
  const call = (method, params) =>
    new Promise((resolve) => {
      const id = ++next;
      waiting.set(id, resolve);
      socket.send(JSON.stringify({ id, method, params }));
    });
  const evaluate = async (expression) =>
    (await call('Runtime.evaluate', { expression, returnByValue: true })).result?.result?.value;
  // One marker that stands alone well inside the window, dragged 30 pixels up with the mouse: the
  // milliseconds from the release to its new latitude in the page's field, or null without one.
  const drag = async () => {
    const at = await evaluate(`(function () {
      var picked = null;
      tv.pictures.some(function (p) {
        var e = p.marker && !p.removed ? p.marker.getElement() : null;
        var r = e ? e.getBoundingClientRect() : null;
        if (r && r.width > 0 && r.left > 60 && r.top > 60 && r.right < innerWidth - 60 && r.bottom < innerHeight - 60) {
          var field = tv.fields.elements.namedItem('pic_latitude' + p.index);
          picked = { index: p.index, x: r.left + r.width / 2, y: r.top + r.height / 2, lat: field ? field.value : '' };
        }
        return picked !== null;
      });
      return picked;
    })()`);
    if (!at) {
      return null;
    }
    const mouse = (type, y, buttons) =>
      call('Input.dispatchMouseEvent', { type, x: at.x, y, button: 'left', buttons, clickCount: 1 });
    await mouse('mousePressed', at.y, 1);
    for (let step = 1; step <= 6; ++step) {
      await mouse('mouseMoved', at.y - step * 5, 1);
    }
    await mouse('mouseReleased', at.y - 30, 0);
    const released = Date.now();
    const field = `tv.fields.elements.namedItem('pic_latitude${at.index}').value`;
    while (Date.now() - released < 10000) {
      if ((await evaluate(field)) !== at.lat) {
        return Date.now() - released;
      }
      await sleep(2);
    }
    return null;
  };
  const drags = [];
  let shown = 0;
  while (!shown && Date.now() - started < 600000) {
    const count = await evaluate("document.querySelectorAll('.leaflet-marker-icon, .marker-cluster').length");
    if (count > 0) {
      shown = Date.now() - started;
    } else {
      await sleep(20);
    }
  }
  result.startToMarkersMs = shown || null;
  // Thumbnails are made after the markers are shown, into the work folder; the page must keep
  // answering meanwhile.
  const work = path.join(home, 'Documents', 'Terravue');
  const made = () => {
    try {
      return fs.readdirSync(work).filter((name) => /^cache_\d+\.jpg$/.test(name)).length;
    } catch {
      return 0;
    }
  };
  let slowest = 0;
  let answers = 0;
  let allMade = 0;
  while (!allMade && Date.now() - started < 600000) {
    const asked = Date.now();
    await evaluate("document.querySelectorAll('input').length");
    slowest = Math.max(slowest, Date.now() - asked);
    ++answers;
    if (made() >= photos.length) {
      allMade = Date.now() - started;
    } else if (drags.length === 0 && made() * 2 >= photos.length) {
      result.dragWhileLoadingMs = await drag();
      drags.push(result.dragWhileLoadingMs);
    } else {
      await sleep(50);
    }
  }
  result.startToAllThumbnailsMs = allMade || null;
  result.pageAnswerMaxMs = slowest;
  result.pageAnswers = answers;
  await sleep(1000);
  const after = [];
  for (let i = 0; i < 5; ++i) {
    after.push(await drag());
    await sleep(300);
  }
  result.dragToFieldsMs = after;
  result.residentKiB = residentKiB(app.pid);
  socket.close();
} catch (error) {
  result.error = String(error);
} finally {
  app.kill('SIGTERM');
  await sleep(500);
  app.kill('SIGKILL');
  fs.rmSync(home, { recursive: true, force: true });
}
console.log(JSON.stringify(result));
