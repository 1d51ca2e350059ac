// The page around the game: says plainly what the browser lacks, loads the game's data with a progress
// bar and libopenmpt for the songs, keeps the player's files in the browser's storage, and starts
// pellorin.js on the canvas.
(function () {
  'use strict';
  var canvas = document.getElementById('screen');
  var loading = document.getElementById('loading');
  var loadingText = document.getElementById('loading-text');
  var bar = document.getElementById('loading-bar');
  var notice = document.getElementById('notice');

  function problem(text) {
    loading.hidden = true;
    var p = document.createElement('p');
    p.className = 'problem';
    p.textContent = text;
    document.body.appendChild(p);
  }

  function showNotice(text) {
    notice.textContent = text;
    notice.hidden = false;
    setTimeout(function () { notice.hidden = true; }, 8000);
  }

  if (typeof WebAssembly !== 'object' || typeof WebAssembly.instantiate !== 'function') {
    problem('This browser cannot run WebAssembly, which Pellorin needs to play in the page.');
    return;
  }
  if (typeof DecompressionStream !== 'function') {
    problem('This browser cannot unpack the game\'s data (it has no DecompressionStream): please use a newer one.');
    return;
  }

  // The data: one gzip file holding every file of the game's data folder (see web/pack_data.py).
  function loadData() {
    return fetch('game-data.gz').then(function (response) {
      if (!response.ok) throw new Error('the game\'s data did not load (HTTP ' + response.status + ')');
      var total = Number(response.headers.get('Content-Length')) || 0;
      var got = 0;
      var counted = new TransformStream({
        transform: function (chunk, controller) {
          got += chunk.byteLength;
          if (total) bar.value = Math.min(got / total, 1);
          controller.enqueue(chunk);
        }
      });
      var unpacked = response.body.pipeThrough(counted).pipeThrough(new DecompressionStream('gzip'));
      return new Response(unpacked).arrayBuffer();
    }).then(function (buffer) {
      var bytes = new Uint8Array(buffer);
      var view = new DataView(buffer);
      var indexLength = view.getUint32(0, true);
      var index = JSON.parse(new TextDecoder().decode(bytes.subarray(4, 4 + indexLength)));
      var at = 4 + indexLength;
      return index.map(function (entry) {
        var file = { path: entry.path, data: bytes.subarray(at, at + entry.size) };
        at += entry.size;
        return file;
      });
    });
  }

  var dataFiles = loadData();

  // libopenmpt for the songs (libopenmpt.js, an ES module with its WebAssembly inside): a second
  // instance on the main thread, which the program calls to render its songs into its own mixer. If it
  // does not load, the game plays its sounds without the songs.
  var songLibrary = import('./libopenmpt.js').then(function (module) { return module.default(); });
  songLibrary.catch(function () {});  // reported where the program waits for it

  function putSongLibrary(Module) {
    Module.addRunDependency('libopenmpt');
    songLibrary.then(function (library) {
      Module.libopenmpt = library;
    }).catch(function (error) {
      console.warn('Pellorin: libopenmpt did not load (' + error + ')');
      showNotice('The songs did not load: the game plays without music.');
    }).then(function () { Module.removeRunDependency('libopenmpt'); });
  }

  function putData(Module) {
    Module.addRunDependency('data');
    dataFiles.then(function (files) {
      files.forEach(function (file) {
        var path = '/pellorin/' + file.path;
        Module.FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
        Module.FS.writeFile(path, file.data);
      });
      loadingText.textContent = 'Starting…';
      Module.removeRunDependency('data');
    }).catch(function (error) { problem('Pellorin could not start: ' + error.message + '.'); });
  }

  // The player's folder is kept in IndexedDB; where the browser refuses it (a private window, storage
  // turned off or full) the game plays and says that nothing is kept.
  function mountStorage(Module) {
    var FS = Module.FS;
    FS.mkdirTree('/home/pellorin');
    var unkept = function () {
      Module.pageStorage(false);
      showNotice('This browser keeps nothing for this page: your settings and high scores last until you close it.');
    };
    try {
      if (typeof indexedDB === 'undefined') throw new Error('no IndexedDB');
      FS.mount(Module.IDBFS, {}, '/home/pellorin');
    } catch (e) {
      unkept();
      return;
    }
    Module.addRunDependency('storage');
    FS.syncfs(true, function (error) {
      if (error) unkept();
      else Module.pageStorage(true);
      Module.removeRunDependency('storage');
    });
  }

  var Module = window.Module = {
    canvas: canvas,
    preRun: [function () { mountStorage(Module); }, function () { putData(Module); },
             function () { putSongLibrary(Module); }],
    pageNotice: showNotice,
    pageOpened: function () {
      loading.hidden = true;
      canvas.classList.add('running');
      canvas.focus();
    },
    pageEnded: function () {
      canvas.classList.remove('running');
      problem('Thank you for playing Pellorin. Reload the page to play again.');
    },
    printErr: function (text) { console.warn(text); },
    onAbort: function (what) { problem('Pellorin stopped: ' + what); }
  };

  document.getElementById('fullscreen').addEventListener('click', function () {
    if (document.fullscreenElement) document.exitFullscreen();
    else document.documentElement.requestFullscreen().catch(function () {});
    canvas.focus();
  });
  canvas.addEventListener('pointerdown', function () { canvas.focus(); });

  // A touch screen gets the on-screen fire and bomb buttons (browser_platform.js sends them to the game
  // as the mouse's buttons); a first touch shows them too where the browser did not say it has one.
  function showTouchButtons() {
    var touch = function () { document.body.classList.add('touch'); };
    if (navigator.maxTouchPoints > 0 || (window.matchMedia && matchMedia('(any-pointer: coarse)').matches)) touch();
    window.addEventListener('pointerdown', function (e) { if (e.pointerType === 'touch') touch(); }, true);
  }

  // A replay file dropped on the page: the game checks it and keeps a good one among the player's replays
  // (pellorin_drop_replay); a damaged one gets the game's own message.
  function acceptDroppedReplays() {
    window.addEventListener('dragover', function (e) { e.preventDefault(); });
    window.addEventListener('drop', function (e) {
      e.preventDefault();
      var file = e.dataTransfer && e.dataTransfer.files[0];
      if (!file || !Module.ccall || !canvas.classList.contains('running')) return;
      file.arrayBuffer().then(function (buffer) {
        var staged = '/tmp/dropped.replay';
        Module.FS.writeFile(staged, new Uint8Array(buffer));
        var kept = Module.ccall('pellorin_drop_replay', 'number', ['string', 'string'], [staged, file.name]);
        if (kept) showNotice('The replay ' + file.name + ' is kept among your replays (Replays, at the bottom right).');
      });
    });
  }

  // The Replays button lists the kept replays (replays/ in the player's folder), each a download.
  function offerReplays() {
    var button = document.getElementById('replays');
    var list = document.getElementById('replay-list');
    var folder = '/home/pellorin/replays';
    var urls = [];
    function close() {
      list.hidden = true;
      button.setAttribute('aria-expanded', 'false');
      urls.forEach(function (url) { URL.revokeObjectURL(url); });
      urls = [];
    }
    button.addEventListener('click', function () {
      if (!list.hidden) { close(); canvas.focus(); return; }
      list.textContent = '';
      var names = [];
      try {
        names = Module.FS.readdir(folder).filter(function (name) { return /\.replay$/.test(name); });
      } catch (e) {}
      // The kept games' names begin with their score: the best first.
      names.sort().reverse();
      if (!names.length) {
        var none = document.createElement('p');
        none.textContent = 'No replay kept yet: each game that enters the high-score table is kept here.';
        list.appendChild(none);
      }
      names.forEach(function (name) {
        var url = URL.createObjectURL(new Blob([Module.FS.readFile(folder + '/' + name)],
                                               { type: 'application/octet-stream' }));
        urls.push(url);
        var link = document.createElement('a');
        link.href = url;
        link.download = name;
        link.textContent = name;
        list.appendChild(link);
      });
      list.hidden = false;
      button.setAttribute('aria-expanded', 'true');
    });
  }

  showTouchButtons();
  acceptDroppedReplays();
  offerReplays();

  var script = document.createElement('script');
  script.src = 'pellorin.js';
  script.onerror = function () { problem('Pellorin could not start: pellorin.js did not load.'); };
  document.body.appendChild(script);
})();
