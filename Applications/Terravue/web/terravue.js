/*
 * Terravue map page script.
 *
 * One script serves two pages:
 *  - the interactive page the map server answers: its data comes in the JSON element "tvData" and
 *    the hidden INPUT fields of the form "tvFields" are kept current after every drag, pan and zoom
 *    (the program reads them back when the user saves);
 *  - the saved local page "data.htm": its data comes in the globals $marker, $select and $message
 *    and its markers are shown read-only.
 *
 * Coordinates are written exactly as the program's degrees-to-text conversion writes them: that
 * conversion works in 80-bit extended precision and truncates at every step, so the arithmetic is
 * done here on exact binary fractions (BigInt significands) rounded to 64 significant bits after
 * each operation, as the extended format rounds. Plain doubles would differ by one millisecond near
 * truncation boundaries.
 */
'use strict';

/* ---------------------------------------------------------------------------------------------- */
/* Coordinates                                                                                    */
/* ---------------------------------------------------------------------------------------------- */

/** Highest latitude the map's projection shows; dragged positions are clamped to it. */
var TV_MAX_LATITUDE = 85.0511287798066;

/** Placeholders meaning "no position". */
var TV_NO_LATITUDE = 'X:99:99:99.999';
var TV_NO_LONGITUDE = 'X:999:99:99.999';

var tvBitBuffer = new DataView(new ArrayBuffer(8));

/* An extended value is {m, e}: the exact number m * 2^e with m a non-negative BigInt. */

function tvExtFromDouble(x) {
  if (x === 0) {
    return { m: 0n, e: 0 };
  }
  tvBitBuffer.setFloat64(0, x);
  var hi = tvBitBuffer.getUint32(0);
  var lo = tvBitBuffer.getUint32(4);
  var exponent = (hi >>> 20) & 0x7ff;
  var fraction = (BigInt(hi & 0xfffff) << 32n) | BigInt(lo);
  if (exponent === 0) {
    return { m: fraction, e: -1074 };
  }
  return { m: fraction | (1n << 52n), e: exponent - 1075 };
}

function tvBitLength(m) {
  return m === 0n ? 0 : m.toString(2).length;
}

/* Rounds m * 2^e to 64 significant bits, to nearest with ties to even, as the extended format. */
function tvExtRound(m, e) {
  var length = tvBitLength(m);
  if (length <= 64) {
    return { m: m, e: e };
  }
  var shift = BigInt(length - 64);
  var q = m >> shift;
  var rest = m - (q << shift);
  var half = 1n << (shift - 1n);
  if (rest > half || (rest === half && (q & 1n) === 1n)) {
    q += 1n;
  }
  if (q >> 64n) {
    q >>= 1n;
    shift += 1n;
  }
  return { m: q, e: e + Number(shift) };
}

function tvExtMulInt(a, n) {
  return tvExtRound(a.m * n, a.e);
}

/* a - n for an integer n not above a. */
function tvExtSubInt(a, n) {
  if (a.e >= 0) {
    return tvExtRound((a.m << BigInt(a.e)) - n, 0);
  }
  return tvExtRound(a.m - (n << BigInt(-a.e)), a.e);
}

/* Truncation toward zero of a non-negative value. */
function tvExtTrunc(a) {
  return a.e >= 0 ? a.m << BigInt(a.e) : a.m >> BigInt(-a.e);
}

function tvPad(n, width) {
  var text = n.toString();
  while (text.length < width) {
    text = '0' + text;
  }
  return text;
}

/**
 * Degrees to the digits of a coordinate text ("DD:MM:SS.mmm" for a latitude, "DDD:MM:SS.mmm"
 * for a longitude), truncating at every step in extended precision. The sign is dropped.
 */
function tvDegreesToDigits(value, latitude) {
  var a = tvExtMulInt(tvExtFromDouble(Math.abs(value)), 60n);
  var totalMinutes = tvExtTrunc(a);
  var degrees = totalMinutes / 60n;
  var minutes = totalMinutes % 60n;
  var b = tvExtMulInt(tvExtSubInt(a, totalMinutes), 60n);
  var seconds = tvExtTrunc(b);
  var millis = tvExtTrunc(tvExtMulInt(tvExtSubInt(b, seconds), 1000n));
  return tvPad(degrees, latitude ? 2 : 3) + ':' + tvPad(minutes, 2) + ':' + tvPad(seconds, 2) + '.' + tvPad(millis, 3);
}

/** A full coordinate text, with "N"/"S" or "E"/"W" from the sign; placeholders for non-numbers. */
function tvCoordinateText(value, latitude) {
  if (typeof value !== 'number' || !isFinite(value)) {
    return latitude ? TV_NO_LATITUDE : TV_NO_LONGITUDE;
  }
  var letter = latitude ? (value < 0 ? 'S' : 'N') : value < 0 ? 'W' : 'E';
  return letter + ':' + tvDegreesToDigits(value, latitude);
}

/**
 * A coordinate text to signed decimal degrees, or null for a placeholder or anything malformed.
 * The milliseconds field is a count, as the program reads it ("9.5" is 9 seconds 5 ms).
 */
function tvParseCoordinate(text, latitude) {
  if (typeof text !== 'string') {
    return null;
  }
  var match = /^([NSEW]):(\d{1,3}):(\d{1,2}):(\d{1,2})(?:\.(\d{1,3}))?$/.exec(text);
  if (!match) {
    return null;
  }
  var letter = match[1];
  if (latitude ? letter !== 'N' && letter !== 'S' : letter !== 'E' && letter !== 'W') {
    return null;
  }
  var millis = match[5] ? parseInt(match[5], 10) : 0;
  var value =
    parseInt(match[2], 10) + parseInt(match[3], 10) / 60 + (parseInt(match[4], 10) * 1000 + millis) / 3600000;
  if (value > (latitude ? 90 : 180)) {
    return null;
  }
  return letter === 'S' || letter === 'W' ? -value : value;
}

/** Brings a dragged or panned position into range: longitudes wrap into -180..180, latitudes clamp. */
function tvNormalize(lat, lng) {
  if (!isFinite(lat)) {
    lat = 0;
  }
  if (!isFinite(lng)) {
    lng = 0;
  }
  if (lng > 180 || lng < -180) {
    lng = ((((lng + 180) % 360) + 360) % 360) - 180;
  }
  if (lat > TV_MAX_LATITUDE) {
    lat = TV_MAX_LATITUDE;
  } else if (lat < -TV_MAX_LATITUDE) {
    lat = -TV_MAX_LATITUDE;
  }
  return { lat: lat, lng: lng };
}

/** A relative thumbnail path of a saved page that cannot leave its folder, or '' when unsafe. */
function tvSafeRelative(path) {
  if (typeof path !== 'string' || path === '' || /^[\/\\]|:|[\u0000-\u001f]/.test(path)) {
    return '';
  }
  var parts = path.split(/[\/\\]/);
  for (var i = 0; i < parts.length; i++) {
    if (parts[i] === '' || parts[i] === '.' || parts[i] === '..') {
      return '';
    }
  }
  return parts.map(encodeURIComponent).join('/');
}

/* ---------------------------------------------------------------------------------------------- */
/* Texts                                                                                          */
/* ---------------------------------------------------------------------------------------------- */

var TV_TEXTS = {
  ENU: {
    located: 'On the map',
    unlocated: 'Without a position',
    dragHint: 'Drag a picture from this list onto the map to give it a position.',
    none: 'No pictures.',
    summary: '{0} pictures, {1} on the map, {2} moved',
    summaryView: '{0} pictures, {1} on the map',
    summaryOne: '{0} picture, {1} on the map, {2} moved',
    summaryViewOne: '{0} picture, {1} on the map',
    broken: 'Some thumbnails could not be shown.',
    noMap: 'The map library could not be loaded.',
    moveHint: 'Drag a marker to move a picture.',
    removeFromMap: 'Remove from map',
    removeFromList: 'Remove from the list',
    forgetPosition: 'Forget position',
    forgetQuestion:
      'Forget the position of "{0}"? When the map is saved, the position is removed from the photo file.',
    forgetConfirm: 'Forget position',
    forgetCancel: 'Cancel',
    dontAskAgain: "Don't ask again",
    pending: 'not yet written',
    offline: 'offline: showing saved tiles',
    searchHint: 'Find a place or paste a position',
    searchNothing: 'No place of that name',
    searchNoIndex: 'Place names are not available; positions still work',
    searchPosition: 'Position {0}, {1}',
    placeHere: 'Put the selected photos here',
    placeHereNone: 'Select photos first',
    fitAll: 'Show all photos',
    pairBadge: 'RAW+JPEG',
    pairNote: 'One photo in {0} files: {1}',
    conflictBadge: 'XMP',
    conflictNote: 'Two positions: the sidecar {0} holds the one shown; the photo {1} itself holds {2}, {3}'
  },
  JPN: {
    located: '地図上の写真',
    unlocated: '位置情報のない写真',
    dragHint: '写真をこの一覧から地図へドラッグすると、その場所が写真の位置になります。',
    none: '写真がありません。',
    summary: '写真 {0} 枚 / 地図上 {1} 枚 / 移動 {2} 枚',
    summaryView: '写真 {0} 枚 / 地図上 {1} 枚',
    broken: '表示できないサムネイルがあります。',
    noMap: '地図ライブラリを読み込めませんでした。',
    moveHint: 'マーカーをドラッグすると写真の位置を移動できます。',
    removeFromMap: '地図から外す',
    removeFromList: '一覧から外す',
    forgetPosition: '位置情報を消す',
    forgetQuestion: '「{0}」の位置情報を消しますか？地図を保存すると、写真ファイルから位置情報が削除されます。',
    forgetConfirm: '位置情報を消す',
    forgetCancel: 'キャンセル',
    dontAskAgain: '今後確認しない',
    pending: 'まだ書き込まれていません',
    offline: 'オフライン: 保存済みの地図を表示しています',
    searchHint: '地名を検索、または位置を貼り付け',
    searchNothing: 'その名前の場所はありません',
    searchNoIndex: '地名は使えません（位置の入力は使えます）',
    searchPosition: '位置 {0}, {1}',
    placeHere: '選択した写真をここに置く',
    placeHereNone: '先に写真を選択してください',
    fitAll: 'すべての写真を表示',
    pairBadge: 'RAW+JPEG',
    pairNote: '{0} 個のファイルで 1 枚の写真: {1}',
    conflictBadge: 'XMP',
    conflictNote: '位置が 2 つあります: 表示しているのはサイドカー {0} の位置で、写真 {1} 自体の位置は {2}, {3} です'
  }
};

function tvFormat(template) {
  var args = arguments;
  return template.replace(/\{(\d)\}/g, function (all, n) {
    return String(args[Number(n) + 1]);
  });
}

/* ---------------------------------------------------------------------------------------------- */
/* Page state                                                                                     */
/* ---------------------------------------------------------------------------------------------- */

var tv = {
  loaded: false,
  editable: false,
  texts: TV_TEXTS.ENU,
  pictures: [],
  select: 0,
  map: null,
  cluster: null,
  fields: null,
  icons: null,
  highlighted: null,
  drag: null,
  messages: { broken: '', information: '' },
  brokenShown: false,
  fieldsUpdated: 0,
  loadMs: 0,
  confirmForget: true
};

/* Settings the program gives the page: {confirmForget: bool}. */
function tvSetOptions(options) {
  if (options && typeof options.confirmForget === 'boolean') {
    tv.confirmForget = options.confirmForget;
  }
  if (options && typeof options.namePlaces === 'string') {
    // The program names places; its own text for the entry of the photo menu.
    tv.namePlacesText = options.namePlaces;
  }
  return tv.confirmForget;
}

function tvElement(id) {
  return document.getElementById(id);
}

/* Reads the page's data: the server page's JSON, or the saved page's globals. */
function tvReadData() {
  var node = tvElement('tvData');
  if (node) {
    var data = JSON.parse(node.textContent || '{}');
    return {
      lang: data.lang,
      editable: !!data.editable,
      select: Number(data.select) || 0,
      zoom: data.zoom,
      lat: data.lat,
      lng: data.lng,
      tileUrl: typeof data.tileUrl === 'string' ? data.tileUrl : '',
      tileAttribution: typeof data.tileAttribution === 'string' ? data.tileAttribution : '',
      maxZoom: Number(data.maxZoom) || 19,
      tileLayers: Array.isArray(data.tileLayers) ? data.tileLayers.slice(0, 32) : [],
      tileNotice: typeof data.tileNotice === 'string' ? data.tileNotice : '',
      pictures: Array.isArray(data.pictures) ? data.pictures : [],
      messages: data.messages || {}
    };
  }
  var markers = typeof $marker !== 'undefined' && Array.isArray($marker) ? $marker : [];
  return {
    lang: document.documentElement.lang === 'ja' ? 'JPN' : 'ENU',
    editable: false,
    select: typeof $select === 'number' ? $select : 0,
    zoom: '',
    lat: '',
    lng: '',
    tileUrl: 'https://tile.openstreetmap.org/{z}/{x}/{y}.png',
    tileAttribution: '\u00a9 OpenStreetMap contributors',
    maxZoom: 19,
    pictures: markers.map(function (m) {
      return {
        name: '',
        path: '',
        thumb: tvSafeRelative(m.cache),
        lat: m.lat,
        lng: m.lng,
        time: m.time,
        width: m.width,
        height: m.height
      };
    }),
    messages: typeof $message === 'object' && $message ? $message : {}
  };
}

function tvSetField(name, value) {
  if (!tv.fields) {
    return;
  }
  var input = tv.fields.elements.namedItem(name);
  if (input && input.value !== value) {
    input.value = value;
  }
}

/* ---------------------------------------------------------------------------------------------- */
/* List beside the map                                                                            */
/* ---------------------------------------------------------------------------------------------- */

function tvStripInlineHandlers(node) {
  ['onclick', 'onmouseover', 'onmouseout', 'onmousemove'].forEach(function (name) {
    node.removeAttribute(name);
  });
}

// The list's thumbnails are asked for only when their entry scrolls near the visible part of the
// list. The browser's own lazy loading does not apply to the program's thumbnail scheme, so
// without this every entry of a long list asks at once and the page decodes and lays out each
// thumbnail as it arrives, which slows the making of the others.
function tvListThumbObserver() {
  if (tv.thumbObserver === undefined) {
    var list = tvElement('list');
    tv.thumbObserver =
      list && typeof IntersectionObserver === 'function'
        ? new IntersectionObserver(tvThumbsInView, { root: list, rootMargin: '600px 0px' })
        : null;
  }
  return tv.thumbObserver;
}

function tvThumbsInView(entries, observer) {
  entries.forEach(function (entry) {
    var img = entry.target;
    if (!entry.isIntersecting || !img.hasAttribute('data-src')) {
      return;
    }
    observer.unobserve(img);
    img.src = img.getAttribute('data-src');
    img.removeAttribute('data-src');
  });
}

// Takes an entry out of the list, and its thumbnail off the watch if it was never asked for.
function tvRemoveListItem(item) {
  if (!item) {
    return;
  }
  var img = item.querySelector('img[data-src]');
  if (img && tv.thumbObserver) {
    tv.thumbObserver.unobserve(img);
  }
  if (item.parentNode) {
    item.parentNode.removeChild(item);
  }
}

function tvThumbImage(picture, box, inList) {
  var img = document.createElement('img');
  img.className = 'tvThumbImg';
  img.alt = '';
  img.draggable = false;
  img.loading = 'lazy';
  var w = Number(picture.width) || 160;
  var h = Number(picture.height) || 120;
  var scale = Math.min(box / w, box / h, 1);
  img.width = Math.max(1, Math.round(w * scale));
  img.height = Math.max(1, Math.round(h * scale));
  if (picture.thumb) {
    img.addEventListener('error', tvThumbBroken);
    var observer = inList ? tvListThumbObserver() : null;
    if (observer) {
      img.setAttribute('data-src', picture.thumb);
      observer.observe(img);
    } else {
      img.src = picture.thumb;
    }
  } else {
    img.classList.add('tvNoThumb');
  }
  return img;
}

function tvThumbBroken(event) {
  event.target.classList.add('tvNoThumb');
  event.target.removeAttribute('src');
  if (!tv.brokenShown) {
    tv.brokenShown = true;
    tvShowMessage(tv.messages.broken || tv.texts.broken);
  }
}

function tvMakeListItem(picture) {
  var located = picture.lat !== null;
  var template = tvElement(located ? 'thumb1' : 'thumb2');
  var item = template ? template.cloneNode(false) : document.createElement('a');
  tvStripInlineHandlers(item);
  item.removeAttribute('id');
  item.className = located ? 'thumb1' : 'thumb2';
  item.href = '#';
  item.setAttribute('data-index', String(picture.index));
  item.appendChild(tvThumbImage(picture, 64, true));
  var label = document.createElement('span');
  label.className = 'tvLabel';
  var name = document.createElement('span');
  name.className = 'tvName';
  name.textContent = picture.name;
  var time = document.createElement('span');
  time.className = 'tvTime';
  time.textContent = picture.time || '';
  label.appendChild(name);
  label.appendChild(time);
  item.appendChild(label);
  picture.item = item;
  tvShowPendingMark(picture);
  item.addEventListener('click', function (event) {
    event.preventDefault();
    if (event.ctrlKey || event.metaKey || event.shiftKey) {
      tvToggleSelected(picture);
      return;
    }
    tvSetSelection([picture]);
    if (picture.lat !== null) {
      thumbClick(item);
    } else {
      tvHighlight(picture);
    }
  });
  item.addEventListener('mouseover', function () {
    thumbOver(item);
  });
  item.addEventListener('mouseout', function () {
    thumbOut();
  });
  item.addEventListener('mousemove', function (event) {
    thumbMove(event);
  });
  if (!located && tv.editable) {
    item.addEventListener('mousedown', tvDragStart);
  }
  if (tv.editable) {
    item.addEventListener('contextmenu', function (event) {
      event.preventDefault();
      tvOpenPictureMenu(picture, event.clientX, event.clientY);
    });
  }
  return item;
}

/* The files that are one photo with a picture (a JPEG and its raw files), named in one line; '' for a
   photo of one file. */
function tvPairText(picture) {
  var paired = picture.pairedWith || [];
  if (paired.length === 0) {
    return '';
  }
  var names = [picture.name].concat(paired);
  return tvFormat(tv.texts.pairNote, names.length, names.join(' + '));
}

/* The note on a picture whose sidecar and own metadata hold different positions: which file holds
   which (the sidecar's is the one shown); '' for a picture without such a sidecar. */
function tvConflictText(picture) {
  var conflict = picture.conflict;
  if (!conflict) {
    return '';
  }
  return tvFormat(
    tv.texts.conflictNote,
    conflict.sidecar,
    picture.name,
    conflict.lat.toFixed(5),
    conflict.lng.toFixed(5)
  );
}

/* Takes the program's list of pictures whose files say more than the picture's position, as
   [index, [names of the other files], [sidecar name, latitude text, longitude text]] entries (1-based
   indexes): the other files of a JPEG with raw files, and, for a picture whose sidecar's position is
   not the one its own file holds, that sidecar and the file's position (the third element is absent
   or empty otherwise). Every picture not listed is one file that agrees with itself. Answers the
   number of pictures listed. */
function tvShowSources(list) {
  var sources = {};
  (Array.isArray(list) ? list : []).forEach(function (entry) {
    if (Array.isArray(entry) && typeof entry[0] === 'number') {
      sources[entry[0]] = entry;
    }
  });
  var shown = 0;
  tv.pictures.forEach(function (picture) {
    var entry = Object.prototype.hasOwnProperty.call(sources, picture.index) ? sources[picture.index] : null;
    var paired =
      entry && Array.isArray(entry[1])
        ? entry[1].filter(function (name) {
            return typeof name === 'string' && name !== '';
          })
        : [];
    var conflict = null;
    var other = entry && Array.isArray(entry[2]) ? entry[2] : [];
    if (other.length === 3 && typeof other[0] === 'string' && other[0] !== '') {
      var lat = tvParseCoordinate(other[1], true);
      var lng = tvParseCoordinate(other[2], false);
      if (lat !== null && lng !== null) {
        conflict = { sidecar: other[0], lat: lat, lng: lng };
      }
    }
    shown += paired.length > 0 || conflict ? 1 : 0;
    // Only a picture whose files changed is drawn again: a map of thousands of photos has few pairs.
    var key = conflict ? conflict.sidecar + '@' + conflict.lat + ',' + conflict.lng : '';
    var changed = paired.join('/') !== (picture.pairedWith || []).join('/') || key !== (picture.conflictKey || '');
    picture.pairedWith = paired;
    picture.conflict = conflict;
    picture.conflictKey = key;
    if (changed) {
      tvShowPendingMark(picture);
    }
  });
  return shown;
}

/* The text that says why a picture's new position is not in its file yet. */
function tvPendingText(picture) {
  return picture.pendingReason ? tv.texts.pending + ': ' + picture.pendingReason : tv.texts.pending;
}

/* True while the new position of a picture is not in its file: moved on this page, or left over from a save. */
function tvIsPending(picture) {
  return !picture.removed && (picture.moved || picture.pending || tvNamesWait(picture));
}

/* Whether the set of place names a picture should hold is not the one its file holds. */
function tvNamesWait(picture) {
  return picture.named !== undefined && picture.named !== (picture.namesInFile || '0');
}

/* The set of place names a picture should hold, by its number among those the program keeps for it
   ('0': what it held before it was first named), in the field the program reads. */
function tvSetNamed(picture, value) {
  picture.named = value;
  if (tv.fields) {
    var name = 'pic_named' + picture.index;
    var input = tv.fields.elements.namedItem(name);
    if (!input) {
      input = document.createElement('input');
      input.type = 'hidden';
      input.name = name;
      tv.fields.appendChild(input);
    }
    input.value = value;
  }
  tvShowPendingMark(picture);
}

/* The program chose place names for pictures, given as [index, set before, set now] (the sets by
   their numbers): one step, undone and redone as a gesture is. Answers the number of pictures. */
function tvNamePictures(entries) {
  var step = [];
  (Array.isArray(entries) ? entries : []).forEach(function (entry) {
    if (!Array.isArray(entry) || entry.length < 3) {
      return;
    }
    var picture = tv.pictures[entry[0] - 1];
    if (picture && !picture.removed) {
      step.push({ picture: picture, names: true, before: String(entry[1]), after: String(entry[2]) });
      tvSetNamed(picture, String(entry[2]));
    }
  });
  tvRecordStep(step);
  tv.fieldsUpdated = Date.now();
  tvUpdateInfo();
  return step.length;
}

/* Puts one change of a step back (`side` 'before') or again ('after'). A change of a picture the
   program took off the map (it holds it, the page does not) waits until the picture is back. */
function tvApplyChange(change, side) {
  if (!change.picture) {
    return;
  }
  if (change.removal) {
    if (side === 'after') {
      tvRemovePicture(change.picture);
    } else {
      tvPutBackPicture(change.picture);
    }
    return;
  }
  if (change.picture.removed) {
    return;
  }
  if (change.names) {
    tvSetNamed(change.picture, change[side]);
  } else {
    tvSetPosition(change.picture, change[side]);
  }
}

/* Puts the mark of class `className` with `text` beside a list entry's name, or takes it away when
   there is no text; answers the mark, if any. */
function tvSetListMark(item, className, text) {
  var mark = item.querySelector('.' + className);
  if (!text) {
    if (mark) {
      mark.parentNode.removeChild(mark);
    }
    return null;
  }
  if (!mark) {
    mark = document.createElement('span');
    mark.className = className;
    (item.querySelector('.tvLabel') || item).appendChild(mark);
  }
  mark.textContent = text;
  return mark;
}

/* Brings a picture's list entry and marker in step with whether its move still waits to be written. */
function tvShowPendingMark(picture) {
  var pending = tvIsPending(picture);
  var item = picture.item;
  if (item) {
    item.classList.toggle('tvPending', pending);
    tvSetListMark(item, 'tvPendingMark', pending ? tv.texts.pending : '');
    var pairText = tvPairText(picture);
    tvSetListMark(item, 'tvPairMark', pairText ? tv.texts.pairBadge : '');
    var conflictText = tvConflictText(picture);
    var conflictMark = tvSetListMark(item, 'tvConflictMark', conflictText ? tv.texts.conflictBadge : '');
    if (conflictMark) {
      conflictMark.title = conflictText;
    }
    var title = [picture.path || '', pairText, conflictText, pending ? tvPendingText(picture) : '']
      .filter(function (part) {
        return part;
      })
      .join('\n');
    if (title) {
      item.title = title;
    } else {
      item.removeAttribute('title');
    }
  }
  if (picture.marker && tv.icons) {
    picture.marker.setIcon(tvIconOf(picture));
  }
}

/**
 * Takes the program's list of pictures whose move is not in their file yet, as [index, reason] pairs
 * (1-based indexes, reason '' when none is known). The program holds every move the page had made when
 * it sends this, so the page's own marks start again from the list. `nameSets` gives, for each
 * picture named this session, [index, the set of names it should hold, the set its file holds].
 * Answers the number marked.
 */
function tvShowPending(list, nameSets) {
  var sets = {};
  (Array.isArray(nameSets) ? nameSets : []).forEach(function (entry) {
    if (Array.isArray(entry) && typeof entry[0] === 'number') {
      sets[entry[0]] = { wanted: String(entry[1]), inFile: String(entry[2]) };
    }
  });
  var reasons = {};
  (Array.isArray(list) ? list : []).forEach(function (entry) {
    if (Array.isArray(entry) && typeof entry[0] === 'number') {
      reasons[entry[0]] = {
        reason: typeof entry[1] === 'string' ? entry[1] : '',
        named: entry[2] === true,
        moved: entry[3] !== false
      };
    }
  });
  var marked = 0;
  tv.pictures.forEach(function (picture) {
    var entry = Object.prototype.hasOwnProperty.call(reasons, picture.index) ? reasons[picture.index] : null;
    picture.moved = false;
    picture.pending = !!entry && entry.moved;
    picture.pendingReason = entry ? entry.reason : '';
    var set = Object.prototype.hasOwnProperty.call(sets, picture.index) ? sets[picture.index] : null;
    if (set) {
      picture.namesInFile = set.inFile;
      tvSetNamed(picture, set.wanted);
    } else if ((entry && entry.named) || picture.named !== undefined) {
      // Names the program keeps no earlier set for: they wait, or they don't.
      picture.namesInFile = '0';
      tvSetNamed(picture, entry && entry.named ? '1' : '0');
    }
    marked += tvIsPending(picture) ? 1 : 0;
    tvShowPendingMark(picture);
  });
  tvRebaseSteps();
  tvUpdateInfo();
  return marked;
}

function tvBuildList() {
  var list = tvElement('list');
  if (!list) {
    return;
  }
  // The entries about to go are no longer watched.
  if (tv.thumbObserver) {
    tv.thumbObserver.disconnect();
  }
  list.textContent = '';
  var locatedHead = document.createElement('div');
  locatedHead.className = 'tvHead';
  locatedHead.textContent = tv.texts.located;
  var locatedBox = document.createElement('div');
  locatedBox.id = 'tvLocated';
  var unlocatedHead = document.createElement('div');
  unlocatedHead.className = 'tvHead';
  unlocatedHead.id = 'tvUnlocatedHead';
  unlocatedHead.textContent = tv.texts.unlocated;
  var hint = document.createElement('div');
  hint.className = 'tvHint';
  hint.textContent = tv.editable ? tv.texts.dragHint : '';
  var unlocatedBox = document.createElement('div');
  unlocatedBox.id = 'tvUnlocated';
  var fragmentLocated = document.createDocumentFragment();
  var fragmentUnlocated = document.createDocumentFragment();
  tv.pictures.forEach(function (picture) {
    (picture.lat !== null ? fragmentLocated : fragmentUnlocated).appendChild(tvMakeListItem(picture));
  });
  locatedBox.appendChild(fragmentLocated);
  unlocatedBox.appendChild(fragmentUnlocated);
  list.appendChild(locatedHead);
  list.appendChild(locatedBox);
  list.appendChild(unlocatedHead);
  list.appendChild(hint);
  list.appendChild(unlocatedBox);
  if (tv.pictures.length === 0) {
    var none = document.createElement('div');
    none.className = 'tvHint';
    none.textContent = tv.texts.none;
    list.appendChild(none);
  }
  tvUpdateListHeads();
}

function tvUpdateListHeads() {
  var unlocated = tvElement('tvUnlocated');
  var head = tvElement('tvUnlocatedHead');
  var empty = !unlocated || unlocated.childNodes.length === 0;
  if (head) {
    head.style.display = empty ? 'none' : '';
    if (head.nextSibling) {
      head.nextSibling.style.display = empty ? 'none' : '';
    }
  }
}

/* ---------------------------------------------------------------------------------------------- */
/* Markers                                                                                        */
/* ---------------------------------------------------------------------------------------------- */

function tvMakeIcons() {
  var base = tvScriptBase();
  // A pin whose "shadow" is the badge with the number of photos at its position: the marker moves,
  // drags and leaves the map with it, and the pin itself stays the image it always was.
  // A photo of a JPEG and its raw files carries a second badge, beside the pin, in the same shadow,
  // and a photo whose sidecar and own file hold different positions a third one above it.
  tv.CountIcon = L.Icon.extend({
    createShadow: function () {
      var badge = null;
      if (this.options.tvCount) {
        badge = document.createElement('div');
        badge.className = 'tvCount';
        badge.textContent = this.options.tvCount;
      }
      var box = badge;
      if (this.options.tvPair || this.options.tvConflict) {
        box = document.createElement('div');
        box.className = 'tvBadges';
        if (badge) {
          box.appendChild(badge);
        }
        if (this.options.tvPair) {
          var pair = document.createElement('div');
          pair.className = 'tvPair';
          pair.textContent = this.options.tvPair;
          box.appendChild(pair);
        }
        if (this.options.tvConflict) {
          var conflict = document.createElement('div');
          conflict.className = 'tvConflict';
          conflict.textContent = this.options.tvConflict;
          box.appendChild(conflict);
        }
      }
      if (box) {
        box.style.marginLeft = '4px';
        box.style.marginTop = '-38px';
      }
      return box;
    }
  });
  return {
    normal: L.icon({
      iconUrl: base + 'pin_std1.png',
      iconSize: [22, 34],
      iconAnchor: [11, 33],
      popupAnchor: [0, -30],
      tooltipAnchor: [10, -18]
    }),
    selected: L.icon({
      iconUrl: base + 'pin_std2.png',
      iconSize: [22, 34],
      iconAnchor: [11, 33],
      popupAnchor: [0, -30],
      tooltipAnchor: [10, -18]
    }),
    pending: L.icon({
      iconUrl: base + 'pin_std1.png',
      iconSize: [22, 34],
      iconAnchor: [11, 33],
      popupAnchor: [0, -30],
      tooltipAnchor: [10, -18],
      className: 'tvPendingPin'
    }),
    selectedPending: L.icon({
      iconUrl: base + 'pin_std2.png',
      iconSize: [22, 34],
      iconAnchor: [11, 33],
      popupAnchor: [0, -30],
      tooltipAnchor: [10, -18],
      className: 'tvPendingPin'
    })
  };
}

/* The marker icon of a picture: selected or not, marked while its move waits to be written, with
   the number of photos at its position when it holds several. */
function tvIconOf(picture) {
  var selected = tv.highlighted === picture || tvIsSelected(picture);
  var icon;
  if (tvIsPending(picture)) {
    icon = selected ? tv.icons.selectedPending : tv.icons.pending;
  } else {
    icon = selected ? tv.icons.selected : tv.icons.normal;
  }
  var count = picture.sharing || 1;
  var paired = !!picture.pairedWith && picture.pairedWith.length > 0;
  var conflicting = !!picture.conflict;
  if ((count < 2 && !paired && !conflicting) || !tv.CountIcon) {
    return icon;
  }
  var shown = count < 2 ? '' : count > 999 ? '999+' : String(count);
  var key = (paired ? 'pair:' : '') + (conflicting ? 'conflict:' : '') + shown;
  icon.tvCounted = icon.tvCounted || {};
  if (!icon.tvCounted[key]) {
    icon.tvCounted[key] = new tv.CountIcon(
      L.extend({}, icon.options, {
        tvCount: shown,
        tvPair: paired ? tv.texts.pairBadge : '',
        tvConflict: conflicting ? tv.texts.conflictBadge : ''
      })
    );
  }
  return icon.tvCounted[key];
}

/* Counts the photos at each position once the current gesture is done, however many pictures it
   moved, and gives every marker whose number changed its new badge. */
function tvCountsChanged() {
  if (tv.countsDue) {
    return;
  }
  tv.countsDue = true;
  queueMicrotask(tvUpdateCounts);
}

function tvUpdateCounts() {
  tv.countsDue = false;
  var counts = new Map();
  var key = function (p) {
    return p.lat + ',' + p.lng;
  };
  tv.pictures.forEach(function (p) {
    if (!p.removed && p.lat !== null) {
      counts.set(key(p), (counts.get(key(p)) || 0) + 1);
    }
  });
  tv.pictures.forEach(function (p) {
    var count = !p.removed && p.lat !== null ? counts.get(key(p)) : 0;
    if (p.sharing !== count) {
      p.sharing = count;
      if (p.marker && tv.icons) {
        p.marker.setIcon(tvIconOf(p));
      }
    }
  });
}

/* The folder this script was loaded from, so the pins resolve beside it on both pages. */
function tvScriptBase() {
  var scripts = document.getElementsByTagName('script');
  for (var i = 0; i < scripts.length; i++) {
    var src = scripts[i].getAttribute('src') || '';
    var match = /^(.*\/)?terravue\.js(\?.*)?$/.exec(src);
    if (match) {
      return match[1] || '';
    }
  }
  return '';
}

function tvPreview(picture, box) {
  var wrap = document.createElement('div');
  wrap.className = 'tvPreview';
  var img = tvThumbImage(picture, box);
  img.loading = 'eager';
  wrap.appendChild(img);
  if (picture.name) {
    var name = document.createElement('div');
    name.className = 'tvName';
    name.textContent = picture.name;
    wrap.appendChild(name);
  }
  var time = document.createElement('div');
  time.className = 'tvTime';
  time.textContent = picture.time || '';
  wrap.appendChild(time);
  var pairText = tvPairText(picture);
  if (pairText) {
    var pairNote = document.createElement('div');
    pairNote.className = 'tvPairNote';
    pairNote.textContent = pairText;
    wrap.appendChild(pairNote);
  }
  var conflictText = tvConflictText(picture);
  if (conflictText) {
    var conflictNote = document.createElement('div');
    conflictNote.className = 'tvConflictNote';
    conflictNote.textContent = conflictText;
    wrap.appendChild(conflictNote);
  }
  if (tvIsPending(picture)) {
    var note = document.createElement('div');
    note.className = 'tvPendingNote';
    note.textContent = tvPendingText(picture);
    wrap.appendChild(note);
  }
  if (box >= 240 && picture.path) {
    var full = document.createElement('div');
    full.className = 'tvPath';
    full.textContent = picture.path;
    wrap.appendChild(full);
  }
  return wrap;
}

function tvAddMarker(picture) {
  var marker = L.marker([picture.lat, picture.lng], {
    icon: tvIconOf(picture),
    draggable: tv.editable,
    keyboard: true,
    autoPan: true,
    shadowPane: tv.map && tv.map.getPane('tvCountPane') ? 'tvCountPane' : 'shadowPane'
  });
  marker.tvPicture = picture;
  marker.bindTooltip(
    function () {
      return tvPreview(picture, 120);
    },
    { direction: 'right', opacity: 1, className: 'tvTooltip' }
  );
  marker.bindPopup(function () {
    var content = tvPreview(picture, 240);
    content.firstChild.classList.add('tvZoomable');
    content.firstChild.addEventListener('click', function () {
      tvShowBig(picture);
    });
    return content;
  });
  marker.on('click', function (event) {
    var e = event.originalEvent;
    if (e && (e.ctrlKey || e.metaKey || e.shiftKey)) {
      marker.closePopup();
      tvToggleSelected(picture);
      return;
    }
    tvSetSelection([picture]);
    tvHighlight(picture);
  });
  marker.on('dragstart', function () {
    marker.closeTooltip();
    tv.dragFrom = { lat: picture.lat, lng: picture.lng };
  });
  marker.on('dragend', function () {
    var ll = marker.getLatLng();
    var from = tv.dragFrom || { lat: picture.lat, lng: picture.lng };
    tv.dragFrom = null;
    var moving = tvIsSelected(picture) ? tv.selection.concat([picture]) : [picture];
    tvMoveWithSelection(picture, from, tvDropTarget(tv.dropPoint, { lat: ll.lat, lng: ll.lng }, moving), tv.altDrop);
    // The marker just dropped stays in sight above the clusters, after the group's own handling
    // of the drop.
    setTimeout(function () {
      if (picture.marker === marker && !picture.removed) {
        tvHighlight(picture);
      }
    }, 0);
  });
  if (tv.editable) {
    marker.on('contextmenu', function (event) {
      var original = event.originalEvent;
      if (original) {
        original.preventDefault();
      }
      marker.closeTooltip();
      tvOpenPictureMenu(picture, original ? original.clientX : 0, original ? original.clientY : 0);
    });
  }
  picture.marker = marker;
  return marker;
}

/* Gives a picture a new position: the marker, the picture's texts and the hidden fields. */
function tvMovePicture(picture, lat, lng) {
  var at = tvNormalize(lat, lng);
  picture.lat = at.lat;
  picture.lng = at.lng;
  picture.latText = tvCoordinateText(at.lat, true);
  picture.lngText = tvCoordinateText(at.lng, false);
  picture.moved = true;
  if (picture.marker) {
    var current = picture.marker.getLatLng();
    if (current.lat !== at.lat || current.lng !== at.lng) {
      picture.marker.setLatLng([at.lat, at.lng]);
    }
  }
  tvSetField('pic_latitude' + picture.index, picture.latText);
  tvSetField('pic_longitude' + picture.index, picture.lngText);
  tvSetField('pic_modify' + picture.index, '1');
  tv.fieldsUpdated = Date.now();
  tvShowPendingMark(picture);
  tvUpdateInfo();
  tvCountsChanged();
}

/* A marker of the cluster group stands on the map itself while it is lifted, above every cluster,
   so that the marker just chosen or dropped never sinks into a group; put down, it joins the group
   again. An open popup stays open across the move. */
function tvLiftMarker(picture, lifted) {
  var marker = picture && picture.marker;
  if (!marker || !tv.map || !tv.cluster || !tv.cluster.zoomToShowLayer || lifted === !!marker.tvLifted) {
    return;
  }
  var open = marker.isPopupOpen && marker.isPopupOpen();
  if (lifted) {
    tv.cluster.removeLayer(marker);
    marker.tvLifted = true;
    marker.addTo(tv.map);
  } else {
    tv.map.removeLayer(marker);
    marker.tvLifted = false;
    tv.cluster.addLayer(marker);
  }
  if (open && marker._map) {
    marker.openPopup();
  }
}

/* Takes a marker off the page, wherever it stands. */
function tvRemoveMarkerLayer(marker) {
  if (marker.tvLifted) {
    marker.tvLifted = false;
    if (tv.map) {
      tv.map.removeLayer(marker);
    }
  } else if (tv.cluster) {
    tv.cluster.removeLayer(marker);
  }
}

function tvHighlight(picture) {
  var previous = tv.highlighted;
  tv.highlighted = picture;
  if (previous && previous.marker) {
    previous.marker.setIcon(tvIconOf(previous));
    previous.marker.setZIndexOffset(0);
    if (previous !== picture) {
      tvLiftMarker(previous, false);
    }
  }
  if (previous && previous.item) {
    previous.item.classList.remove('tvSelected');
  }
  if (!picture) {
    return;
  }
  if (picture.marker) {
    picture.marker.setIcon(tvIconOf(picture));
    picture.marker.setZIndexOffset(1000);
    // While it is dragged the group still holds the marker; the drop lifts it once the group has
    // taken the new place in.
    if (!tv.dragFrom) {
      tvLiftMarker(picture, true);
    }
  }
  if (picture.item) {
    picture.item.classList.add('tvSelected');
  }
}

/* ---------------------------------------------------------------------------------------------- */
/* Dragging a picture without a position onto the map                                             */
/* ---------------------------------------------------------------------------------------------- */

function tvDragStart(event) {
  if (event.button !== 0) {
    return;
  }
  var index = Number(event.currentTarget.getAttribute('data-index'));
  var picture = tv.pictures[index - 1];
  if (!picture || picture.lat !== null) {
    return;
  }
  event.preventDefault();
  tv.drag = { picture: picture, x: event.clientX, y: event.clientY, ghost: null };
  document.addEventListener('mousemove', tvDragMove);
  document.addEventListener('mouseup', tvDragEnd);
}

function tvDragMove(event) {
  var drag = tv.drag;
  if (!drag) {
    return;
  }
  if (!drag.ghost) {
    if (Math.abs(event.clientX - drag.x) + Math.abs(event.clientY - drag.y) < 4) {
      return;
    }
    drag.ghost = document.createElement('div');
    drag.ghost.className = 'tvGhost';
    drag.ghost.appendChild(tvThumbImage(drag.picture, 64));
    var pin = document.createElement('img');
    pin.src = tv.icons ? tv.icons.normal.options.iconUrl : '';
    pin.className = 'tvGhostPin';
    drag.ghost.appendChild(pin);
    document.body.appendChild(drag.ghost);
    thumbOut();
  }
  drag.ghost.style.left = event.clientX + 'px';
  drag.ghost.style.top = event.clientY + 'px';
}

function tvDragEnd(event) {
  var drag = tv.drag;
  tv.drag = null;
  document.removeEventListener('mousemove', tvDragMove);
  document.removeEventListener('mouseup', tvDragEnd);
  if (!drag || !drag.ghost) {
    return;
  }
  drag.ghost.parentNode.removeChild(drag.ghost);
  var box = tvElement('map').getBoundingClientRect();
  if (!tv.map || event.clientX < box.left || event.clientX >= box.right || event.clientY < box.top ||
      event.clientY >= box.bottom) {
    return;
  }
  var dropped = tv.map.mouseEventToLatLng(event);
  var to = tvDropTarget({ x: event.clientX, y: event.clientY }, { lat: dropped.lat, lng: dropped.lng }, [drag.picture]);
  tvApplyPositions([{ picture: drag.picture, lat: to.lat, lng: to.lng, latText: to.latText, lngText: to.lngText }]);
}

/* A picture without a position gets one where it was dropped. */
function tvPlacePicture(picture, latlng) {
  var at = tvNormalize(latlng.lat, latlng.lng);
  picture.lat = at.lat;
  picture.lng = at.lng;
  tv.cluster.addLayer(tvAddMarker(picture));
  tvMovePicture(picture, at.lat, at.lng);
  var old = picture.item;
  var item = tvMakeListItem(picture);
  tvRemoveListItem(old);
  tvElement('tvLocated').appendChild(item);
  tvUpdateListHeads();
  tvHighlight(picture);
}

/* ---------------------------------------------------------------------------------------------- */
/* Taking a picture off the map or clearing its position                                          */
/* ---------------------------------------------------------------------------------------------- */

/* Sets a hidden field, making it when the page was sent without one. */
function tvSetOrAddField(name, value) {
  if (!tv.fields) {
    return;
  }
  if (!tv.fields.elements.namedItem(name)) {
    var input = document.createElement('input');
    input.type = 'hidden';
    input.name = name;
    tv.fields.appendChild(input);
  }
  tvSetField(name, value);
}

function tvClosePictureMenu() {
  var menu = tvElement('tvPictureMenu');
  if (menu && menu.parentNode) {
    menu.parentNode.removeChild(menu);
  }
  document.removeEventListener('mousedown', tvMenuOutside, true);
  document.removeEventListener('keydown', tvMenuKey, true);
}

function tvMenuOutside(event) {
  var menu = tvElement('tvPictureMenu');
  if (menu && !menu.contains(event.target)) {
    tvClosePictureMenu();
  }
}

function tvMenuKey(event) {
  if (event.key === 'Escape') {
    tvClosePictureMenu();
  }
}

/* The context menu of a picture, at the given point of the window. */
function tvOpenPictureMenu(picture, x, y) {
  tvClosePictureMenu();
  thumbOut();
  var menu = document.createElement('div');
  menu.id = 'tvPictureMenu';
  menu.className = 'tvPictureMenu';
  menu.setAttribute('role', 'menu');
  var add = function (id, text, action) {
    var entry = document.createElement('a');
    entry.href = '#';
    entry.id = id;
    entry.setAttribute('role', 'menuitem');
    entry.textContent = text;
    entry.addEventListener('click', function (event) {
      event.preventDefault();
      tvClosePictureMenu();
      action(picture);
    });
    menu.appendChild(entry);
  };
  if (picture.lat === null) {
    // A photo without a position is not on the map; it can only leave the list of this map's photos.
    add('tvRemoveFromList', tv.texts.removeFromList, tvRemoveRecorded);
  } else {
    add('tvRemoveFromMap', tv.texts.removeFromMap, tvRemoveRecorded);
    if (tv.namePlacesText) {
      add('tvNamePlaces', tv.namePlacesText, tvAskNamePlaces);
    }
    // Set apart from the harmless entry above: saving then erases the photo's position.
    var separator = document.createElement('div');
    separator.className = 'tvMenuSeparator';
    separator.setAttribute('role', 'separator');
    menu.appendChild(separator);
    add('tvForgetPosition', tv.texts.forgetPosition, tvAskForgetPosition);
    menu.lastChild.classList.add('tvMenuDanger');
  }
  document.body.appendChild(menu);
  var w = menu.offsetWidth;
  var h = menu.offsetHeight;
  menu.style.left = Math.max(0, Math.min(x, window.innerWidth - w)) + 'px';
  menu.style.top = Math.max(0, Math.min(y, window.innerHeight - h)) + 'px';
  document.addEventListener('mousedown', tvMenuOutside, true);
  document.addEventListener('keydown', tvMenuKey, true);
}

/* Asks the program to name the places of the selected photos (the one clicked when it is not
   among them). */
function tvAskNamePlaces(picture) {
  if (!tvIsSelected(picture)) {
    tvSetSelection([picture]);
  }
  console.info('terravue:name-places');
}

/* Takes the marker and the list entry of a picture off the page. */
function tvDropMarker(picture) {
  if (picture.marker) {
    picture.marker.closePopup();
    tvRemoveMarkerLayer(picture.marker);
    picture.marker = null;
  }
  if (tv.highlighted === picture) {
    tvHighlight(null);
  }
  tvCountsChanged();
}

/* The picture leaves the map; the program drops it when it reads the fields. Its file is not touched. */
function tvRemovePicture(picture) {
  tvDropMarker(picture);
  tvRemoveListItem(picture.item);
  picture.item = null;
  picture.removed = true;
  tvSetOrAddField('pic_remove' + picture.index, '1');
  tv.fieldsUpdated = Date.now();
  tvUpdateListHeads();
  tvUpdateInfo();
}

/* Taking a picture off the map is one step: undone, it is back with its marker and list entry. */
function tvRemoveRecorded(picture) {
  if (picture.removed) {
    return;
  }
  tvRemovePicture(picture);
  tvRecordStep([{ picture: picture, removal: true }]);
}

/* The picture taken off the map comes back where it was, in the list at its own place, and the
   program no longer drops it. */
function tvPutBackPicture(picture) {
  if (!picture.removed) {
    return;
  }
  picture.removed = false;
  tvSetOrAddField('pic_remove' + picture.index, '0');
  if (picture.lat !== null && tv.cluster) {
    tv.cluster.addLayer(tvAddMarker(picture));
  }
  var item = tvMakeListItem(picture);
  var box = tvElement(picture.lat !== null ? 'tvLocated' : 'tvUnlocated');
  if (box) {
    var next = null;
    Array.prototype.forEach.call(box.children, function (other) {
      if (!next && Number(other.getAttribute('data-index')) > picture.index) {
        next = other;
      }
    });
    box.insertBefore(item, next);
  }
  tvCountsChanged();
  tv.fieldsUpdated = Date.now();
  tvUpdateListHeads();
  tvUpdateInfo();
}

function tvCloseForgetQuestion() {
  var box = tvElement('tvConfirm');
  if (box && box.parentNode) {
    box.parentNode.removeChild(box);
  }
}

/* Asks before a picture's position is forgotten, unless the user said not to ask again (which the
   program keeps, reading the field "tv_confirm_forget"). */
function tvAskForgetPosition(picture) {
  if (!tv.confirmForget) {
    tvForgetRecorded(picture);
    return;
  }
  tvCloseForgetQuestion();
  var box = document.createElement('div');
  box.id = 'tvConfirm';
  box.className = 'tvConfirm';
  box.setAttribute('role', 'alertdialog');
  var text = document.createElement('div');
  text.className = 'tvConfirmText';
  text.textContent = tvFormat(tv.texts.forgetQuestion, picture.name || picture.path);
  var label = document.createElement('label');
  var dontAsk = document.createElement('input');
  dontAsk.type = 'checkbox';
  dontAsk.id = 'tvDontAsk';
  label.appendChild(dontAsk);
  label.appendChild(document.createTextNode(' ' + tv.texts.dontAskAgain));
  var buttons = document.createElement('div');
  buttons.className = 'tvConfirmButtons';
  var button = function (id, caption, action) {
    var b = document.createElement('button');
    b.type = 'button';
    b.id = id;
    b.textContent = caption;
    b.addEventListener('click', function (event) {
      event.preventDefault();
      tvCloseForgetQuestion();
      action();
    });
    buttons.appendChild(b);
    return b;
  };
  button('tvForgetYes', tv.texts.forgetConfirm, function () {
    if (dontAsk.checked) {
      tv.confirmForget = false;
      tvSetOrAddField('tv_confirm_forget', '0');
    }
    tvForgetRecorded(picture);
  });
  var cancel = button('tvForgetNo', tv.texts.forgetCancel, function () {});
  box.appendChild(text);
  box.appendChild(label);
  box.appendChild(buttons);
  box.addEventListener('keydown', function (event) {
    if (event.key === 'Escape') {
      tvCloseForgetQuestion();
    }
  });
  document.body.appendChild(box);
  cancel.focus();
}

/* The picture keeps its place in the list without a position; saving removes the position from its file. */
function tvForgetPosition(picture) {
  tvDropMarker(picture);
  picture.lat = null;
  picture.lng = null;
  picture.latText = TV_NO_LATITUDE;
  picture.lngText = TV_NO_LONGITUDE;
  picture.moved = true;
  tvSetField('pic_latitude' + picture.index, TV_NO_LATITUDE);
  tvSetField('pic_longitude' + picture.index, TV_NO_LONGITUDE);
  tvSetField('pic_modify' + picture.index, '1');
  tv.fieldsUpdated = Date.now();
  var old = picture.item;
  var item = tvMakeListItem(picture);
  tvRemoveListItem(old);
  var box = tvElement('tvUnlocated');
  if (box) {
    box.appendChild(item);
  }
  tvUpdateListHeads();
  tvUpdateInfo();
}

/* ---------------------------------------------------------------------------------------------- */
/* Selection                                                                                      */
/* ---------------------------------------------------------------------------------------------- */

function tvIsSelected(picture) {
  return !!(tv.selection && tv.selection.indexOf(picture) >= 0);
}

/* One selection for the list and the map: list entries and markers show it. */
function tvSetSelection(pictures) {
  var before = tv.selection || [];
  tv.selection = pictures.filter(function (p, i) {
    return p && !p.removed && pictures.indexOf(p) === i;
  });
  before.concat(tv.selection).forEach(function (p) {
    if (p.marker && tv.icons) {
      p.marker.setIcon(tvIconOf(p));
    }
    if (p.item) {
      p.item.classList.toggle('tvSelected', tvIsSelected(p) || tv.highlighted === p);
    }
  });
}

function tvToggleSelected(picture) {
  var now = tvSelectedPictures().slice();
  var at = now.indexOf(picture);
  if (at >= 0) {
    now.splice(at, 1);
  } else {
    now.push(picture);
  }
  tvSetSelection(now);
}

/* A dragged marker that is part of the selection takes the others along by the same offset, so
   their layout is kept, or with `stack` (Alt held at the drop) puts them all at the drop point; a
   marker outside the selection moves alone. */
function tvMoveWithSelection(picture, from, to, stack) {
  var moves = [{ picture: picture, lat: to.lat, lng: to.lng, latText: to.latText, lngText: to.lngText }];
  if (tvIsSelected(picture)) {
    var dLat = to.lat - from.lat;
    var dLng = to.lng - from.lng;
    tv.selection.forEach(function (p) {
      if (p === picture || p.lat === null || p.removed) {
        return;
      }
      if (stack) {
        moves.push({ picture: p, lat: to.lat, lng: to.lng, latText: to.latText, lngText: to.lngText });
      } else {
        moves.push({ picture: p, lat: Math.max(-90, Math.min(90, p.lat + dLat)), lng: p.lng + dLng });
      }
    });
  }
  tvApplyPositions(moves);
}

/* The picture whose own marker lies under the point (client coordinates), leaving out those in
   `moving`; null when there is none. A photo dropped there takes that picture's place exactly. */
function tvPictureUnder(point, moving) {
  if (!point || typeof document.elementsFromPoint !== 'function') {
    return null;
  }
  var found = null;
  document.elementsFromPoint(point.x, point.y).some(function (element) {
    if (!element.classList || !element.classList.contains('leaflet-marker-icon')) {
      return false;
    }
    found =
      tv.pictures.filter(function (p) {
        return p.marker && p.marker._icon === element && !p.removed && p.lat !== null && moving.indexOf(p) < 0;
      })[0] || null;
    return found !== null;
  });
  return found;
}

/* Where a drop at `point` puts a photo: the place of the picture whose marker it lands on, with
   its texts, or `at`. */
function tvDropTarget(point, at, moving) {
  var under = tvPictureUnder(point, moving);
  return under ? { lat: under.lat, lng: under.lng, latText: under.latText, lngText: under.lngText } : at;
}

/* Whether Alt was held when the mouse button went up, read before the map's own handlers end the
   drag (a marker's drag-end event carries no keys). */
function tvWatchDropKeys(event) {
  tv.altDrop = !!event.altKey;
  var point = event.changedTouches && event.changedTouches[0] ? event.changedTouches[0] : event;
  tv.dropPoint = typeof point.clientX === 'number' ? { x: point.clientX, y: point.clientY } : null;
}

/* Shift-drag on the map draws a band; the pictures on the map inside it become the selection. */
function tvStartBand(event) {
  if (!event.shiftKey || event.button !== 0 || !tv.map) {
    return;
  }
  var target = event.target;
  if (target && target.closest && target.closest('.leaflet-marker-icon, .leaflet-control, .tvSearch')) {
    return;
  }
  event.preventDefault();
  event.stopPropagation();
  var mapBox = tvElement('map');
  var origin = tv.map.mouseEventToContainerPoint(event);
  var band = document.createElement('div');
  band.id = 'tvBand';
  band.className = 'tvBand';
  mapBox.appendChild(band);
  var corner = origin;
  var draw = function (e) {
    corner = tv.map.mouseEventToContainerPoint(e);
    band.style.left = Math.min(origin.x, corner.x) + 'px';
    band.style.top = Math.min(origin.y, corner.y) + 'px';
    band.style.width = Math.abs(corner.x - origin.x) + 'px';
    band.style.height = Math.abs(corner.y - origin.y) + 'px';
  };
  var end = function (e) {
    document.removeEventListener('mousemove', draw, true);
    document.removeEventListener('mouseup', end, true);
    draw(e);
    band.parentNode.removeChild(band);
    var bounds = L.latLngBounds(tv.map.containerPointToLatLng(origin), tv.map.containerPointToLatLng(corner));
    var inside = tv.pictures.filter(function (p) {
      return !p.removed && p.lat !== null && bounds.contains([p.lat, p.lng]);
    });
    tvSetSelection(e.ctrlKey || e.metaKey ? tvSelectedPictures().concat(inside) : inside);
  };
  document.addEventListener('mousemove', draw, true);
  document.addEventListener('mouseup', end, true);
}

function tvInTextField(event) {
  var t = event.target;
  return !!(t && (t.tagName === 'INPUT' || t.tagName === 'TEXTAREA' || t.isContentEditable));
}

/* Copy: the position of the first selected picture as "lat, lng" text, for other programs too. */
function tvCopyPosition(event) {
  if (tvInTextField(event)) {
    return;
  }
  var located = tvSelectedPictures().filter(function (p) {
    return p.lat !== null;
  });
  if (located.length === 0 || !event.clipboardData) {
    return;
  }
  event.preventDefault();
  event.clipboardData.setData('text/plain', located[0].lat.toFixed(7) + ', ' + located[0].lng.toFixed(7));
}

/* Paste: a position in any form the search reads puts the selected pictures there. */
function tvPastePosition(event) {
  if (tvInTextField(event) || !tv.editable || !event.clipboardData) {
    return;
  }
  var text = event.clipboardData.getData('text/plain').trim();
  var pictures = tvSelectedPictures();
  if (!text || pictures.length === 0 || tvUtf8Length(text) > TV_MAX_SEARCH_BYTES) {
    return;
  }
  event.preventDefault();
  tv.pasting = fetch(TV_PLACE_SEARCH_PATH + '?q=' + encodeURIComponent(text) + '&limit=1', { cache: 'no-store' })
    .then(function (response) {
      return response.json();
    })
    .then(function (answer) {
      if (!answer || !answer.point || !isFinite(answer.point.lat) || !isFinite(answer.point.lng)) {
        return 0;
      }
      var at = tvNormalize(Number(answer.point.lat), Number(answer.point.lng));
      tvApplyPositions(
        pictures.map(function (p) {
          return { picture: p, lat: at.lat, lng: at.lng };
        })
      );
      return pictures.length;
    })
    .catch(function () {
      return 0;
    });
}

function tvAddSelection(map) {
  tv.selection = tv.selection || [];
  if (map.boxZoom) {
    // Shift-drag selects here instead of zooming.
    map.boxZoom.disable();
  }
  var mapBox = tvElement('map');
  if (mapBox) {
    mapBox.addEventListener('mousedown', tvStartBand, true);
  }
  window.addEventListener('mouseup', tvWatchDropKeys, true);
  window.addEventListener('pointerup', tvWatchDropKeys, true);
  window.addEventListener('touchend', tvWatchDropKeys, true);
  document.addEventListener('copy', tvCopyPosition);
  document.addEventListener('keydown', tvUndoKey);
  document.addEventListener('paste', tvPastePosition);
}

/* ---------------------------------------------------------------------------------------------- */
/* Finding a place                                                                                */
/* ---------------------------------------------------------------------------------------------- */

/* The map server answers searches here; a saved page has no server and shows no search box. */
var TV_PLACE_SEARCH_PATH = '/places';
var TV_PLACE_MATCHES = 8;
/* The server refuses longer texts; the box never sends one. */
var TV_MAX_SEARCH_BYTES = 256;

/* The pictures the next step applies to: the selection, else the highlighted picture. */
function tvSelectedPictures() {
  if (tv.selection && tv.selection.length > 0) {
    return tv.selection.filter(function (p) {
      return !p.removed;
    });
  }
  return tv.highlighted && !tv.highlighted.removed ? [tv.highlighted] : [];
}

/* The zoom that shows a found place: a city whole, a village close up, a pasted position closer. */
function tvZoomFor(result) {
  if (result.point) {
    return 16;
  }
  var population = Number(result.population) || 0;
  return population >= 1000000 ? 11 : population >= 100000 ? 12 : population >= 10000 ? 13 : 14;
}

function tvSearchLabel(result) {
  if (result.point) {
    return tvFormat(tv.texts.searchPosition, result.lat.toFixed(5), result.lng.toFixed(5));
  }
  var parts = [result.name];
  if (result.admin1 && result.admin1 !== result.name) {
    parts.push(result.admin1);
  }
  if (result.country_name) {
    parts.push(result.country_name);
  }
  return parts.join(', ');
}

function tvUtf8Length(text) {
  return unescape(encodeURIComponent(text)).length;
}

function tvMakeSearchBox() {
  var box = document.createElement('div');
  box.id = 'tvSearch';
  box.className = 'tvSearch leaflet-bar';
  var input = document.createElement('input');
  input.id = 'tvSearchBox';
  input.type = 'search';
  input.autocomplete = 'off';
  input.spellcheck = false;
  input.placeholder = tv.texts.searchHint;
  input.setAttribute('aria-label', tv.texts.searchHint);
  input.setAttribute('role', 'combobox');
  input.setAttribute('aria-controls', 'tvSearchList');
  input.setAttribute('aria-expanded', 'false');
  var list = document.createElement('ul');
  list.id = 'tvSearchList';
  list.className = 'tvSearchList';
  list.setAttribute('role', 'listbox');
  list.style.display = 'none';
  var note = document.createElement('div');
  note.id = 'tvSearchNote';
  note.className = 'tvSearchNote';
  note.style.display = 'none';
  box.appendChild(input);
  box.appendChild(list);
  box.appendChild(note);
  if (tv.editable) {
    var here = document.createElement('button');
    here.type = 'button';
    here.id = 'tvPlaceHere';
    here.className = 'tvPlaceHere';
    here.textContent = tv.texts.placeHere;
    here.style.display = 'none';
    here.addEventListener('click', function (event) {
      event.preventDefault();
      tvPutSelectedHere();
    });
    box.appendChild(here);
  }
  input.addEventListener('input', function () {
    tvSearchTyped(input.value);
  });
  input.addEventListener('keydown', tvSearchKey);
  // Keys typed into the box are the box's, not the map's or the page's shortcuts.
  input.addEventListener('keyup', function (event) {
    event.stopPropagation();
  });
  if (typeof L !== 'undefined' && L.DomEvent) {
    L.DomEvent.disableClickPropagation(box);
    L.DomEvent.disableScrollPropagation(box);
  }
  return box;
}

function tvAddSearch(map) {
  if (!tvElement('tvData') || !/^https?:$/.test(window.location.protocol) || typeof fetch !== 'function') {
    return;
  }
  tv.search = { serial: 0, results: [], active: -1, target: null, targetMarker: null, text: '', flying: false, pending: Promise.resolve() };
  var SearchControl = L.Control.extend({
    options: { position: 'topleft' },
    onAdd: function () {
      return tvMakeSearchBox();
    }
  });
  tv.search.control = new SearchControl();
  tv.search.control.addTo(map);
}

function tvShowSearchNote(text) {
  var note = tvElement('tvSearchNote');
  if (!note) {
    return;
  }
  note.textContent = text || '';
  note.style.display = text ? '' : 'none';
}

function tvShowResults(results) {
  var list = tvElement('tvSearchList');
  var input = tvElement('tvSearchBox');
  tv.search.results = results;
  tv.search.active = results.length > 0 ? 0 : -1;
  list.textContent = '';
  results.forEach(function (result, i) {
    var item = document.createElement('li');
    item.className = 'tvSearchItem' + (i === 0 ? ' tvActive' : '');
    item.setAttribute('role', 'option');
    item.setAttribute('data-index', String(i));
    item.textContent = tvSearchLabel(result);
    item.addEventListener('mousedown', function (event) {
      // Chosen before the box loses its focus.
      event.preventDefault();
      tvChooseResult(i);
    });
    list.appendChild(item);
  });
  list.style.display = results.length > 0 ? '' : 'none';
  input.setAttribute('aria-expanded', results.length > 0 ? 'true' : 'false');
}

function tvSetActive(index) {
  var list = tvElement('tvSearchList');
  tv.search.active = index;
  Array.prototype.forEach.call(list.children, function (item, i) {
    item.classList.toggle('tvActive', i === index);
  });
}

/* Each change of the text asks the server; an answer to an older text than the box now holds is
   dropped, so answers that arrive out of order never show. */
function tvSearchTyped(text) {
  var search = tv.search;
  var trimmed = text.trim();
  search.serial += 1;
  var serial = search.serial;
  search.text = trimmed;
  if (!trimmed || tvUtf8Length(trimmed) > TV_MAX_SEARCH_BYTES) {
    tvShowResults([]);
    tvShowSearchNote('');
    search.pending = Promise.resolve();
    return search.pending;
  }
  var centre = tv.map.getCenter();
  var near = tvNormalize(centre.lat, centre.lng);
  var url = TV_PLACE_SEARCH_PATH + '?q=' + encodeURIComponent(trimmed) + '&near=' + near.lat.toFixed(5) + ',' +
            near.lng.toFixed(5) + '&limit=' + TV_PLACE_MATCHES;
  search.pending = fetch(url, { cache: 'no-store' })
    .then(function (response) {
      return response.json().then(function (answer) {
        return { status: response.status, answer: answer };
      });
    })
    .then(function (reply) {
      if (serial !== search.serial) {
        return;
      }
      var answer = reply.answer || {};
      var results = [];
      if (answer.point && isFinite(answer.point.lat) && isFinite(answer.point.lng)) {
        results.push({ point: true, lat: Number(answer.point.lat), lng: Number(answer.point.lng) });
      }
      (Array.isArray(answer.places) ? answer.places : []).forEach(function (place) {
        if (place && isFinite(place.lat) && isFinite(place.lng) && typeof place.name === 'string') {
          results.push({
            point: false,
            name: place.name,
            admin1: typeof place.admin1 === 'string' ? place.admin1 : '',
            country_name: typeof place.country_name === 'string' ? place.country_name : '',
            lat: Number(place.lat),
            lng: Number(place.lng),
            population: place.population
          });
        }
      });
      tvShowResults(results);
      if (reply.status === 503) {
        tvShowSearchNote(tv.texts.searchNoIndex);
      } else if (results.length === 0) {
        tvShowSearchNote(tv.texts.searchNothing);
      } else {
        tvShowSearchNote('');
      }
    })
    .catch(function () {
      if (serial === search.serial) {
        tvShowResults([]);
        tvShowSearchNote(tv.texts.searchNoIndex);
      }
    });
  return search.pending;
}

function tvSearchKey(event) {
  var search = tv.search;
  event.stopPropagation();
  var count = search.results.length;
  if (event.key === 'ArrowDown' && count > 0) {
    event.preventDefault();
    tvSetActive((search.active + 1) % count);
  } else if (event.key === 'ArrowUp' && count > 0) {
    event.preventDefault();
    tvSetActive((search.active - 1 + count) % count);
  } else if (event.key === 'Enter') {
    event.preventDefault();
    var input = tvElement('tvSearchBox');
    // Enter right after typing waits for the answer to what is in the box now.
    var answered = search.text !== input.value.trim() ? tvSearchTyped(input.value) : search.pending;
    search.flying = true;
    answered.then(function () {
      if (!tvChooseResult(search.active >= 0 ? search.active : 0)) {
        search.flying = false;
      }
    });
  } else if (event.key === 'Escape') {
    tvShowResults([]);
    tvShowSearchNote('');
  }
}

/* Flies the map to a result and marks it as the place the selected photos may be put. */
function tvChooseResult(index) {
  var result = tv.search.results[index];
  if (!result) {
    return false;
  }
  var at = tvNormalize(result.lat, result.lng);
  tv.search.target = { lat: at.lat, lng: at.lng, label: tvSearchLabel(result) };
  tvShowResults([]);
  tvShowSearchNote('');
  if (tv.search.targetMarker) {
    tv.map.removeLayer(tv.search.targetMarker);
  }
  tv.search.targetMarker = L.circleMarker([at.lat, at.lng], {
    radius: 9,
    color: '#1f5fa8',
    weight: 3,
    fillColor: '#ffffff',
    fillOpacity: 0.6,
    interactive: false,
    className: 'tvSearchTarget'
  }).addTo(tv.map);
  var zoom = Math.min(tvZoomFor(result), tv.map.getMaxZoom());
  // Until the map has arrived: whoever waits for the flight (the tests) reads it here.
  tv.search.flying = true;
  tv.map.once('moveend', function () {
    tv.search.flying = false;
  });
  if (tv.map.flyTo) {
    tv.map.flyTo([at.lat, at.lng], zoom, { duration: 0.8 });
  } else {
    tv.map.setView([at.lat, at.lng], zoom);
  }
  var here = tvElement('tvPlaceHere');
  if (here) {
    here.style.display = '';
    here.title = tv.search.target.label;
  }
  return true;
}

/* The explicit step after a search: every selected picture gets the found place's position. */
function tvPutSelectedHere() {
  var target = tv.search && tv.search.target;
  var pictures = tvSelectedPictures();
  if (!target || !tv.editable) {
    return 0;
  }
  if (pictures.length === 0) {
    tvShowSearchNote(tv.texts.placeHereNone);
    return 0;
  }
  tvShowSearchNote('');
  tvApplyPositions(
    pictures.map(function (picture) {
      return { picture: picture, lat: target.lat, lng: target.lng };
    })
  );
  return pictures.length;
}

/* Gives each picture of `moves` ({picture, lat, lng}) its position, placing those without one on
   the map; every change goes through the fields the program reads. */
function tvApplyPositions(moves) {
  var step = moves.map(function (move) {
    var at = tvNormalize(move.lat, move.lng);
    var after = { lat: at.lat, lng: at.lng };
    if (typeof move.latText === 'string' && typeof move.lngText === 'string') {
      // Another picture's place: its very texts, not degrees converted back.
      after.latText = move.latText;
      after.lngText = move.lngText;
    }
    return { picture: move.picture, before: tvPositionOf(move.picture), after: after };
  });
  step.forEach(function (change) {
    tvSetPosition(change.picture, change.after);
    change.after = tvPositionOf(change.picture);
  });
  tvRecordStep(step);
}

/* ---------------------------------------------------------------------------------------------- */
/* Undo and redo                                                                                  */
/* ---------------------------------------------------------------------------------------------- */

/* Where a picture is now, and whether the program is to write it: enough to put it back. */
function tvPositionOf(picture) {
  var field = tv.fields ? tv.fields.elements.namedItem('pic_modify' + picture.index) : null;
  return {
    lat: picture.lat,
    lng: picture.lng,
    latText: picture.latText,
    lngText: picture.lngText,
    moved: picture.moved,
    modify: field ? field.value : '1'
  };
}

/* Gives a picture a position (or none) through the same steps a drag, a drop or a forget takes,
   so that the fields the program reads follow. */
function tvSetPosition(picture, position) {
  if (position.lat === null) {
    if (picture.lat !== null) {
      tvForgetPosition(picture);
    }
  } else if (picture.lat === null) {
    tvPlacePicture(picture, { lat: position.lat, lng: position.lng });
  } else {
    tvMovePicture(picture, position.lat, position.lng);
  }
  if (position.latText !== undefined && position.lat !== null) {
    // The texts exactly as they were: converting degrees back could differ in the last digit.
    picture.latText = position.latText;
    picture.lngText = position.lngText;
    tvSetField('pic_latitude' + picture.index, position.latText);
    tvSetField('pic_longitude' + picture.index, position.lngText);
  }
  if (position.modify !== undefined && position.modify !== '1') {
    // Back where it was loaded: no longer a change to write.
    picture.moved = position.moved;
    tvSetField('pic_modify' + picture.index, position.modify);
    tvShowPendingMark(picture);
    if (picture.marker && tv.icons) {
      picture.marker.setIcon(tvIconOf(picture));
    }
    tvUpdateInfo();
  }
}

/* One gesture is one step, however many pictures it changed. */
function tvRecordStep(step) {
  if (step.length === 0) {
    return;
  }
  tv.undoSteps = tv.undoSteps || [];
  tv.undoSteps.push(step);
  tv.redoSteps = [];
}

function tvForgetRecorded(picture) {
  var before = tvPositionOf(picture);
  tvForgetPosition(picture);
  tvRecordStep([{ picture: picture, before: before, after: tvPositionOf(picture) }]);
}

/* Undoes the last gesture; answers the number of pictures it put back. A picture the program took
   off the map since is asked back from it, which shows the map anew with the picture; until then
   nothing more is undone or redone, so that no step passes over the picture while it is away. */
function tvUndo() {
  if (tv.puttingBack) {
    return 0;
  }
  var step = (tv.undoSteps || []).pop();
  if (!step) {
    return 0;
  }
  step
    .slice()
    .reverse()
    .forEach(function (change) {
      tvApplyChange(change, 'before');
    });
  tv.redoSteps = tv.redoSteps || [];
  tv.redoSteps.push(step);
  tv.fieldsUpdated = Date.now();
  var held = step
    .filter(function (change) {
      return change.removal && !change.picture;
    })
    .map(function (change) {
      return change.path;
    });
  if (held.length > 0) {
    tv.puttingBack = true;
    console.info('terravue:put-back ' + JSON.stringify(held));
  }
  return step.length;
}

function tvRedo() {
  if (tv.puttingBack) {
    return 0;
  }
  var step = (tv.redoSteps || []).pop();
  if (!step) {
    return 0;
  }
  step.forEach(function (change) {
    tvApplyChange(change, 'after');
  });
  tv.undoSteps.push(step);
  tv.fieldsUpdated = Date.now();
  return step.length;
}

/* Whether a recorded position is the one a picture has now. */
function tvSamePosition(position, picture) {
  if (position.lat === null || picture.lat === null) {
    return position.lat === picture.lat;
  }
  return position.latText === picture.latText && position.lngText === picture.lngText;
}

/* The program holds every picture's present position now (a save may have written it into the
   file): a recorded position other than the present one is a change to write again when a step
   goes back or forth to it, and the present one is none unless it still waits to be written. */
function tvRebaseSteps() {
  (tv.undoSteps || []).concat(tv.redoSteps || []).forEach(function (step) {
    step.forEach(function (change) {
      if (change.names || change.removal || !change.picture) {
        return;
      }
      [change.before, change.after].forEach(function (position) {
        var same = tvSamePosition(position, change.picture);
        var written = same && !change.picture.pending;
        position.moved = !written;
        position.modify = written ? '0' : '1';
      });
    });
  });
}

/* The steps as plain data, by picture number and path, for a page that shows the same map anew. */
function tvUndoHistory() {
  function plain(steps) {
    return (steps || []).map(function (step) {
      return step.map(function (change) {
        var index = change.picture ? change.picture.index : change.index;
        var path = change.picture ? change.picture.path || '' : change.path;
        if (change.removal) {
          return { index: index, path: path, removal: true };
        }
        if (change.names) {
          // The sets of place names by their numbers: the program keeps the sets themselves.
          return { index: index, path: path, names: true, before: change.before, after: change.after };
        }
        return { index: index, path: path, before: change.before, after: change.after };
      });
    });
  }
  return JSON.stringify({ undo: plain(tv.undoSteps), redo: plain(tv.redoSteps) });
}

/* Takes the steps of the page this one replaced; answers the number of steps taken. `held` lists
   the paths of the pictures the program took off the map and can put back: their changes are kept
   for when they are back. The changes of any other picture this page does not show are left out. */
function tvTakeUndoHistory(text, held) {
  var history;
  try {
    history = JSON.parse(text);
  } catch (e) {
    return 0;
  }
  function position(value) {
    if (!value || typeof value !== 'object') {
      return null;
    }
    if (value.lat === null) {
      return { lat: null, lng: null, moved: !!value.moved, modify: String(value.modify) };
    }
    if (typeof value.lat !== 'number' || typeof value.lng !== 'number' || typeof value.latText !== 'string' ||
        typeof value.lngText !== 'string') {
      return null;
    }
    return {
      lat: value.lat,
      lng: value.lng,
      latText: value.latText,
      lngText: value.lngText,
      moved: !!value.moved,
      modify: String(value.modify)
    };
  }
  var byPath = new Map();
  tv.pictures.forEach(function (p) {
    if (p.path) {
      byPath.set(p.path, p);
    }
  });
  var away = new Set(Array.isArray(held) ? held.filter(function (path) {
    return typeof path === 'string' && path !== '';
  }) : []);
  function steps(list) {
    var out = [];
    (Array.isArray(list) ? list : []).forEach(function (step) {
      var changes = [];
      (Array.isArray(step) ? step : []).forEach(function (change) {
        if (!change || typeof change.path !== 'string' || change.path === '') {
          return;
        }
        var picture = typeof change.index === 'number' ? tv.pictures[change.index - 1] : null;
        if (!picture || picture.path !== change.path) {
          // Pictures taken off the map or put back number the others anew: the path tells.
          picture = byPath.get(change.path) || null;
        }
        if (!picture && !away.has(change.path)) {
          // Not a picture of this map.
          return;
        }
        var index = picture ? picture.index : typeof change.index === 'number' ? change.index : 0;
        if (change.removal === true) {
          changes.push({ picture: picture, removal: true, index: index, path: change.path });
          return;
        }
        if (change.names === true) {
          var set = /^[0-9]{1,9}$/;
          if (set.test(String(change.before)) && set.test(String(change.after))) {
            changes.push({
              picture: picture,
              names: true,
              before: String(change.before),
              after: String(change.after),
              index: index,
              path: change.path
            });
          }
          return;
        }
        var before = position(change.before);
        var after = position(change.after);
        if (before && after) {
          changes.push({ picture: picture, before: before, after: after, index: index, path: change.path });
        }
      });
      if (changes.length > 0) {
        out.push(changes);
      }
    });
    return out;
  }
  tv.undoSteps = steps(history && history.undo);
  tv.redoSteps = steps(history && history.redo);
  tvRebaseSteps();
  return tv.undoSteps.length + tv.redoSteps.length;
}

function tvUndoKey(event) {
  if (tvInTextField(event) || !tv.editable || !(event.ctrlKey || event.metaKey)) {
    return;
  }
  var key = event.key.toLowerCase();
  if (key === 'z' && !event.shiftKey) {
    event.preventDefault();
    tvUndo();
  } else if ((key === 'z' && event.shiftKey) || key === 'y') {
    event.preventDefault();
    tvRedo();
  }
}

/* ---------------------------------------------------------------------------------------------- */
/* Information bar and messages                                                                   */
/* ---------------------------------------------------------------------------------------------- */

function tvUpdateInfo() {
  var info = tvElement('info');
  if (!info) {
    return;
  }
  var summary = tvElement('tvSummary');
  if (!summary) {
    summary = document.createElement('span');
    summary.id = 'tvSummary';
    info.appendChild(summary);
  }
  var located = 0;
  var moved = 0;
  var shown = 0;
  tv.pictures.forEach(function (p) {
    if (p.removed) {
      return;
    }
    shown += 1;
    located += p.lat !== null ? 1 : 0;
    moved += tvIsPending(p) ? 1 : 0;
  });
  // A language without a singular form of its own uses the plural one.
  var one = shown === 1;
  var summaryText = (one && tv.texts.summaryOne) || tv.texts.summary;
  var viewText = (one && tv.texts.summaryViewOne) || tv.texts.summaryView;
  summary.textContent = tv.editable
    ? tvFormat(summaryText, shown, located, moved) + ' \u2014 ' + tv.texts.moveHint
    : tvFormat(viewText, shown, located);
}

function tvShowMessage(text) {
  if (!text) {
    return;
  }
  var info = tvElement('info');
  var template = tvElement('msg1');
  if (!info) {
    return;
  }
  var box = tvElement('tvMessage');
  if (!box) {
    box = template ? template.cloneNode(false) : document.createElement('a');
    tvStripInlineHandlers(box);
    box.id = 'tvMessage';
    box.className = 'tvMessage';
    box.href = '#';
    box.addEventListener('click', function (event) {
      event.preventDefault();
      msgClick();
    });
    info.appendChild(box);
  }
  box.textContent = text;
  box.style.display = '';
}

function tvShowBig(picture) {
  var big = tvElement('big');
  var img = tvElement('bigImg');
  if (!big || !img || !picture.thumb) {
    return;
  }
  img.src = picture.thumb;
  img.alt = picture.name || '';
  big.style.display = 'block';
}

/* ---------------------------------------------------------------------------------------------- */
/* Page handlers                                                                                  */
/* ---------------------------------------------------------------------------------------------- */

function load() {
  if (tv.loaded) {
    return;
  }
  tv.loaded = true;
  var started = Date.now();
  var data;
  try {
    data = tvReadData();
  } catch (e) {
    // Unreadable data: show an empty map rather than nothing.
    data = { lang: 'ENU', editable: false, select: 0, zoom: '', lat: '', lng: '', tileUrl: '', tileAttribution: '',
             maxZoom: 19, pictures: [], messages: {} };
  }
  tv.texts = TV_TEXTS[data.lang] || TV_TEXTS.ENU;
  tv.editable = data.editable;
  tv.messages = { broken: data.messages.broken || '', information: data.messages.information || '' };
  tv.fields = tvElement('tvFields');
  tv.pictures = data.pictures.map(function (p, i) {
    var lat = tvParseCoordinate(p.lat, true);
    var lng = tvParseCoordinate(p.lng, false);
    var located = lat !== null && lng !== null;
    return {
      index: i + 1,
      name: typeof p.name === 'string' ? p.name : '',
      path: typeof p.path === 'string' ? p.path : '',
      thumb: typeof p.thumb === 'string' ? p.thumb : '',
      time: typeof p.time === 'string' ? p.time : '',
      width: Number(p.width) || 0,
      height: Number(p.height) || 0,
      latText: p.lat,
      lngText: p.lng,
      lat: located ? lat : null,
      lng: located ? lng : null,
      moved: false,
      pending: false,
      pendingReason: '',
      marker: null,
      item: null
    };
  });
  tv.select = data.select;

  var bigBox = tvElement('big');
  if (bigBox) {
    bigBox.removeAttribute('onclick');
    bigBox.addEventListener('click', function (event) {
      event.preventDefault();
      bigClick();
    });
  }
  var mapBox = tvElement('map');
  if (mapBox && tv.fields) {
    mapBox.addEventListener('wheel', mapWheel, { passive: true });
  }

  tvBuildList();
  tvUpdateInfo();
  if (tv.messages.information) {
    tvShowMessage(tv.messages.information);
  }
  if (typeof L === 'undefined' || !mapBox) {
    tvShowMessage(tv.texts.noMap);
    return;
  }
  tvCreateMap(data);
  tv.loadMs = Date.now() - started;
}

// A plain tile in place of one that could not be fetched (no network and not in the browser's
// cache, or refused by the tile server), instead of the broken-image sign.
var tvMissingTile =
  'data:image/svg+xml,' +
  encodeURIComponent('<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256">' +
    '<rect width="256" height="256" fill="#e6e6e1"/></svg>');

// The first tile that cannot be fetched brings one quiet note to the corner of the map: what
// shows are the tiles the browser kept from earlier.
function tvWatchTiles(layer) {
  layer.on('tileerror', function () {
    if (tv.offlineNote || !tv.map) {
      return;
    }
    var note = L.control({ position: 'bottomleft' });
    note.onAdd = function () {
      var box = L.DomUtil.create('div', 'tvOffline');
      box.id = 'tvOffline';
      box.textContent = tv.texts.offline || '';
      return box;
    };
    tv.offlineNote = note.addTo(tv.map);
  });
}

// A tile layer whose images carry no Referer, for tile servers that don't want one.
var tvNoRefererTileLayer = typeof L !== 'undefined' && L.TileLayer
  ? L.TileLayer.extend({
    createTile: function (coords, done) {
      var tile = document.createElement('img');
      tile.referrerPolicy = 'no-referrer';
      L.DomEvent.on(tile, 'load', L.Util.bind(this._tileOnLoad, this, done, tile));
      L.DomEvent.on(tile, 'error', L.Util.bind(this._tileOnError, this, done, tile));
      tile.alt = '';
      tile.setAttribute('role', 'presentation');
      tile.src = this.getTileUrl(coords);
      return tile;
    }
  })
  : null;

// The layers the server offers, with a control to switch between them when there are several.
// The user's choice is kept in the browser's storage and taken again on the next map.
function tvAddTileLayers(map, layers) {
  var named = {};
  var names = {};
  var chosen = null;
  var remembered = '';
  try {
    remembered = window.localStorage.getItem('terravue.tileLayer') || '';
  } catch (e) {
    remembered = '';
  }
  layers.forEach(function (entry) {
    if (!entry || typeof entry.url !== 'string' || typeof entry.name !== 'string') {
      return;
    }
    var options = {
      maxZoom: Math.min(Math.max(Math.floor(Number(entry.maxZoom) || 19), 1), 22),
      attribution: tvEscapeHtml(typeof entry.attribution === 'string' ? entry.attribution : ''),
      errorTileUrl: tvMissingTile
    };
    var layer = entry.referer === false && tvNoRefererTileLayer
      ? new tvNoRefererTileLayer(entry.url, options)
      : L.tileLayer(entry.url, options);
    tvWatchTiles(layer);
    var label = tvEscapeHtml(entry.name);
    named[label] = layer;
    names[label] = entry.name;
    if (chosen === null || entry.name === remembered) {
      chosen = layer;
    }
  });
  if (chosen === null) {
    return;
  }
  chosen.addTo(map);
  map.setMaxZoom(chosen.options.maxZoom);
  tv.tileLayer = chosen;
  if (Object.keys(named).length > 1) {
    L.control.layers(named, null, { position: 'topright' }).addTo(map);
    map.on('baselayerchange', function (event) {
      tv.tileLayer = event.layer;
      map.setMaxZoom(event.layer.options.maxZoom);
      try {
        window.localStorage.setItem('terravue.tileLayer', names[event.name] || '');
      } catch (e) {
        // Storage may be off; the choice then lasts for this page only.
      }
    });
  }
}

function tvCreateMap(data) {
  var maxZoom = Math.min(Math.max(Math.floor(data.maxZoom), 1), 22);
  var map = L.map('map', { maxZoom: maxZoom, minZoom: 1, zoomSnap: 1, worldCopyJump: false });
  tv.map = map;
  if (Array.isArray(data.tileLayers) && data.tileLayers.length > 0) {
    tvAddTileLayers(map, data.tileLayers);
  } else if (data.tileUrl) {
    tvWatchTiles(
      L.tileLayer(data.tileUrl, {
        maxZoom: maxZoom,
        attribution: tvEscapeHtml(data.tileAttribution),
        errorTileUrl: tvMissingTile
      }).addTo(map)
    );
  }
  if (typeof data.tileNotice === 'string' && data.tileNotice) {
    tvShowMessage(data.tileNotice);
  }
  tv.icons = tvMakeIcons();
  // The photo counts of markers stand above every marker and let the mouse through to them.
  var countPane = map.createPane('tvCountPane');
  countPane.style.zIndex = 640;
  countPane.style.pointerEvents = 'none';
  tv.cluster = L.markerClusterGroup
    ? L.markerClusterGroup({ showCoverageOnHover: false, maxClusterRadius: 50, spiderfyOnMaxZoom: true })
    : L.featureGroup();
  var markers = [];
  var bounds = [];
  tv.pictures.forEach(function (picture) {
    if (picture.lat !== null) {
      markers.push(tvAddMarker(picture));
      bounds.push([picture.lat, picture.lng]);
    }
  });

  var zoom = /^\d{1,2}$/.test(String(data.zoom)) ? Math.min(Number(data.zoom), maxZoom) : NaN;
  var centreLat = tvParseCoordinate(data.lat, true);
  var centreLng = tvParseCoordinate(data.lng, false);
  if (centreLat !== null && centreLng !== null) {
    map.setView([centreLat, centreLng], isNaN(zoom) ? 9 : zoom);
  } else if (bounds.length > 0) {
    map.fitBounds(bounds, { maxZoom: isNaN(zoom) ? 15 : Math.max(zoom, 2), padding: [30, 30] });
  } else {
    map.setView([20, 0], 2);
  }
  if (tv.cluster.addLayers) {
    tv.cluster.addLayers(markers);
  } else {
    markers.forEach(function (m) {
      tv.cluster.addLayer(m);
    });
  }
  map.addLayer(tv.cluster);
  tvUpdateCounts();
  tvAddFitAll(map);
  tvAddSearch(map);
  tvAddSelection(map);

  // The centre and zoom fields keep the values the program sent until the map really moves; a view
  // the page had to choose itself (no usable centre or zoom) is written at once.
  map.on('moveend', tvMapMoved);
  if (centreLat === null || centreLng === null || isNaN(zoom)) {
    tvMapMoved();
  }

  var selected = tv.pictures[tv.select - 1];
  if (selected) {
    tvHighlight(selected);
    if (selected.lat !== null && !map.getBounds().contains([selected.lat, selected.lng])) {
      map.panTo([selected.lat, selected.lng], { animate: false });
    }
    if (selected.item && selected.item.scrollIntoView) {
      selected.item.scrollIntoView({ block: 'nearest' });
    }
  }
}

/* The bounds of every picture on the map, or null when none has a position. */
function tvAllPicturesBounds() {
  var bounds = null;
  tv.pictures.forEach(function (picture) {
    if (picture.lat !== null && !picture.removed && picture.marker) {
      if (bounds) {
        bounds.extend([picture.lat, picture.lng]);
      } else {
        bounds = L.latLngBounds([picture.lat, picture.lng], [picture.lat, picture.lng]);
      }
    }
  });
  return bounds;
}

/* Brings every picture on the map into view. */
function tvFitAll() {
  var bounds = tvAllPicturesBounds();
  if (!tv.map || !bounds) {
    return false;
  }
  tv.map.fitBounds(bounds, { maxZoom: 15, padding: [30, 30] });
  return true;
}

/* A button under the zoom buttons that shows all pictures. */
function tvAddFitAll(map) {
  var FitControl = L.Control.extend({
    options: { position: 'topleft' },
    onAdd: function () {
      var bar = L.DomUtil.create('div', 'leaflet-bar tvFitAll');
      var button = L.DomUtil.create('a', 'tvFitAllButton', bar);
      button.id = 'tvFitAll';
      button.href = '#';
      button.setAttribute('role', 'button');
      button.title = tv.texts.fitAll;
      button.setAttribute('aria-label', tv.texts.fitAll);
      button.textContent = '\u2922';
      L.DomEvent.disableClickPropagation(bar);
      L.DomEvent.on(button, 'click', function (event) {
        L.DomEvent.preventDefault(event);
        tvFitAll();
      });
      return bar;
    }
  });
  new FitControl().addTo(map);
}

function tvMapMoved() {
  var centre = tv.map.getCenter();
  var at = tvNormalize(centre.lat, centre.lng);
  tvSetField('map_zoom', String(tv.map.getZoom()));
  tvSetField('map_latitude', tvCoordinateText(at.lat, true));
  tvSetField('map_longitude', tvCoordinateText(at.lng, false));
  tv.fieldsUpdated = Date.now();
}

function tvEscapeHtml(text) {
  return String(text).replace(/[&<>"']/g, function (c) {
    return { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c];
  });
}

function unload() {
  if (tv.map) {
    tv.map.remove();
    tv.map = null;
  }
}

/* The map handles the wheel itself; the page around it must not scroll. */
function mapWheel() {
  return false;
}

function bigClick() {
  var big = tvElement('big');
  if (big) {
    big.style.display = 'none';
  }
  var img = tvElement('bigImg');
  if (img) {
    img.removeAttribute('src');
  }
  return false;
}

/* A list entry of a picture on the map: highlight it and bring its marker into view. */
function thumbClick(item) {
  var picture = tv.pictures[Number(item.getAttribute('data-index')) - 1];
  if (!picture || !picture.marker || !tv.map) {
    return false;
  }
  tvHighlight(picture);
  var open = function () {
    picture.marker.openPopup();
  };
  if (tv.cluster.zoomToShowLayer && !picture.marker.tvLifted) {
    tv.cluster.zoomToShowLayer(picture.marker, open);
  } else {
    tv.map.panTo(picture.marker.getLatLng());
    open();
  }
  return false;
}

function thumbOver(item) {
  var alt = tvElement('thumbAlt');
  var picture = tv.pictures[Number(item.getAttribute('data-index')) - 1];
  if (!alt || !picture || tv.drag) {
    return;
  }
  alt.textContent = '';
  alt.appendChild(tvPreview(picture, 200));
  alt.style.display = 'block';
}

function thumbOut() {
  var alt = tvElement('thumbAlt');
  if (alt) {
    alt.style.display = 'none';
    alt.textContent = '';
  }
}

function thumbMove(event) {
  var e = event || window.event;
  var alt = tvElement('thumbAlt');
  if (!alt || !e || alt.style.display !== 'block') {
    return;
  }
  var x = e.clientX + 16;
  var y = e.clientY + 12;
  var w = alt.offsetWidth;
  var h = alt.offsetHeight;
  if (x + w > window.innerWidth) {
    x = Math.max(0, e.clientX - w - 16);
  }
  if (y + h > window.innerHeight) {
    y = Math.max(0, window.innerHeight - h);
  }
  alt.style.left = x + 'px';
  alt.style.top = y + 'px';
}

function msgClick() {
  var box = tvElement('tvMessage');
  if (box) {
    box.style.display = 'none';
  }
  return false;
}

/* The server page carries no inline handlers: start when its document is ready. */
if (typeof document !== 'undefined') {
  document.addEventListener('DOMContentLoaded', function () {
    if (tvElement('tvData')) {
      load();
    }
  });
}

if (typeof module !== 'undefined' && module.exports) {
  module.exports = {
    tvDegreesToDigits: tvDegreesToDigits,
    tvCoordinateText: tvCoordinateText,
    tvParseCoordinate: tvParseCoordinate,
    tvNormalize: tvNormalize,
    tvSafeRelative: tvSafeRelative
  };
}
