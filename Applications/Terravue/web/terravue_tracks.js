/* ---------------------------------------------------------------------------------------------- */
/* GPS track logs: the program draws loaded tracks, previews where photos would go and applies    */
/* the preview as moves. Appended to the page script; uses its `tv` state and its move functions. */
/* ---------------------------------------------------------------------------------------------- */

var tvTracks = {
  layer: null,
  preview: null,
  pending: [],
  colours: ['#d7263d', '#1b998b', '#3454d1', '#f46036', '#8e44ad', '#2e294e', '#c5a000', '#0b6e4f']
};

/* Draws the tracks: one entry per file, each a list of lines of [lat, lng] pairs, in the file's
   own colour. With `fit` the map shows all of them. Answers the number of points drawn. */
function tvTracksShow(files, fit) {
  if (!tv.map || typeof L === 'undefined') {
    return -1;
  }
  if (tvTracks.layer) {
    tv.map.removeLayer(tvTracks.layer);
  }
  tvTracks.layer = L.featureGroup();
  var points = 0;
  (Array.isArray(files) ? files : []).forEach(function (file, n) {
    var colour = tvTracks.colours[n % tvTracks.colours.length];
    (Array.isArray(file.lines) ? file.lines : []).forEach(function (line) {
      if (Array.isArray(line) && line.length > 0) {
        L.polyline(line, { color: colour, weight: 3, opacity: 0.8, interactive: false }).addTo(tvTracks.layer);
        points += line.length;
      }
    });
  });
  tvTracks.layer.addTo(tv.map);
  if (fit && points > 0) {
    tv.map.fitBounds(tvTracks.layer.getBounds(), { padding: [30, 30], maxZoom: 17 });
  }
  return points;
}

/* The icon of a previewed place: a ring, unlike every marker of a photo. */
function tvTracksPin() {
  return L.divIcon({ className: 'tvTrackPin', html: '', iconSize: [16, 16], iconAnchor: [8, 8] });
}

/* "name  time" of a previewed photo, as its marker's list entry shows them. */
function tvTracksLabel(picture) {
  return [picture.name || '', picture.time || ''].filter(function (part) {
    return part !== '';
  }).join('  ');
}

/* Shows where photos would go: `items` are {index, lat, lng} with the page's picture numbers.
   Answers the number shown. */
function tvTracksPreview(items) {
  if (!tv.map || typeof L === 'undefined') {
    return -1;
  }
  if (tvTracks.preview) {
    tv.map.removeLayer(tvTracks.preview);
  }
  tvTracks.preview = L.layerGroup();
  tvTracks.pending = [];
  (Array.isArray(items) ? items : []).forEach(function (item) {
    var picture = tv.pictures[item.index - 1];
    if (!picture || typeof item.lat !== 'number' || typeof item.lng !== 'number') {
      return;
    }
    tvTracks.pending.push({ picture: picture, lat: item.lat, lng: item.lng });
    // A ring of its own with the photo's name and time beside it: a proposal, not a placed or
    // selected photo. A click shows the picture.
    var marker = L.marker([item.lat, item.lng], {
      icon: tvTracksPin(),
      interactive: true,
      keyboard: false
    });
    // As text: a file name is no markup.
    var label = document.createElement('span');
    label.textContent = tvTracksLabel(picture);
    marker.bindTooltip(label, {
      permanent: true,
      direction: 'right',
      offset: [8, 0],
      opacity: 0.9,
      className: 'tvTrackLabel'
    });
    marker.bindPopup(function () {
      return tvPreview(picture, 120);
    });
    marker.addTo(tvTracks.preview);
    if (picture.lat !== null && (picture.lat !== item.lat || picture.lng !== item.lng)) {
      L.polyline([[picture.lat, picture.lng], [item.lat, item.lng]], {
        color: '#555', weight: 1, dashArray: '4 4', interactive: false
      }).addTo(tvTracks.preview);
    }
  });
  tvTracks.preview.addTo(tv.map);
  return tvTracks.pending.length;
}

/* Moves every previewed photo to its place, as a drag would, and ends the preview. Answers the
   number of photos moved. */
function tvTracksApply() {
  var moves = tvTracks.pending
    .filter(function (p) {
      return !p.picture.removed;
    })
    .map(function (p) {
      return { picture: p.picture, lat: p.lat, lng: p.lng };
    });
  // Through the steps a drag takes: one step, however many photos the track placed.
  tvApplyPositions(moves);
  tv.fieldsUpdated = Date.now();
  tvTracksPreview([]);
  return moves.length;
}

/* The selected photo and where it is now: {index, lat, lng}, or null. */
function tvTracksSelected() {
  var p = tv.highlighted;
  if (!p || p.lat === null) {
    return null;
  }
  return { index: p.index, lat: p.lat, lng: p.lng };
}
