// The page's side of the browser platform (browser_platform.cpp): the canvas, the page's events as the
// program's, the keys held, pads, message boxes as dialogs in the page, links in a new tab, and the
// files kept in the browser's storage.
var LibraryPellorinPage = {
  $Page__postset: 'Page.install();',
  $Page: {
    canvas: null,
    context: null,
    image: null,
    events: [],
    keys: null,  // held keys by scan code: made by install (a library's values must be plain)
    pointer: [0, 0],
    leftInside: false,
    touches: {},          // touch pointers on the canvas: their last place in the picture, and whether they left it
    fullscreenWanted: false,  // the full-screen state the game last asked for, or the browser last had
    fullscreenPending: false, // a request the browser has not answered yet
    focused: true,
    modal: null,
    padSeen: false,  // a gamepadconnected event has come
    storage: false,
    saving: false,
    saveAgain: false,
    // KeyboardEvent.code to the key's USB HID usage (the numbering the program's scan codes use).
    scans: (function () {
      var scans = {};
      for (var i = 0; i < 26; ++i) scans['Key' + String.fromCharCode(65 + i)] = 4 + i;
      for (var d = 1; d <= 9; ++d) scans['Digit' + d] = 29 + d;
      scans.Digit0 = 39;
      for (var f = 1; f <= 12; ++f) scans['F' + f] = 57 + f;
      for (var n = 1; n <= 9; ++n) scans['Numpad' + n] = 88 + n;
      var named = {
        Enter: 40, Escape: 41, Backspace: 42, Tab: 43, Space: 44, Minus: 45, Equal: 46, BracketLeft: 47,
        BracketRight: 48, Backslash: 49, Semicolon: 51, Quote: 52, Backquote: 53, Comma: 54, Period: 55,
        Slash: 56, CapsLock: 57, PrintScreen: 70, ScrollLock: 71, Pause: 72, Insert: 73, Home: 74,
        PageUp: 75, Delete: 76, End: 77, PageDown: 78, ArrowRight: 79, ArrowLeft: 80, ArrowDown: 81,
        ArrowUp: 82, NumLock: 83, NumpadDivide: 84, NumpadMultiply: 85, NumpadSubtract: 86, NumpadAdd: 87,
        NumpadEnter: 88, Numpad0: 98, NumpadDecimal: 99, ContextMenu: 101, ControlLeft: 224,
        ShiftLeft: 225, AltLeft: 226, MetaLeft: 227, ControlRight: 228, ShiftRight: 229, AltRight: 230,
        MetaRight: 231, IntlBackslash: 100
      };
      for (var name in named) scans[name] = named[name];
      return scans;
    })(),
    // Kinds as the program numbers them, plus one (0 is "no event").
    kind: { KeyDown: 1, KeyUp: 2, KeyPress: 3, MouseMove: 4, MouseDown: 5, MouseUp: 6, Click: 7,
            Activate: 8, Deactivate: 9, Close: 10 },

    install: function () {
      Page.keys = new Uint8Array(512);
      if (typeof window !== 'undefined')
        window.addEventListener('gamepadconnected', function () { Page.padSeen = true; });
      // The page says whether its storage holds the user's folder before the program starts.
      Module.pageStorage = function (kept) { Page.storage = kept; };
      if (typeof document === 'undefined') return;  // the command-line programs run without a page
      Page.canvas = Module.canvas || document.getElementById('screen');
    },

    push: function (kind, fields) {
      var e = { kind: kind, scan: 0, letter: 0, alt: 0, ch: 0, button: 0, x: 0, y: 0 };
      for (var k in fields) e[k] = fields[k];
      Page.events.push(e);
    },

    // Letters and digits follow the layout: the key's own character when it is one.
    letter: function (e) {
      if (e.key && e.key.length === 1) {
        var c = e.key.toUpperCase().charCodeAt(0);
        if ((c >= 65 && c <= 90) || (c >= 48 && c <= 57)) return c;
      }
      return 0;
    },

    // Keys the browser would act on itself (scrolling, focus, find) belong to the game; the browser
    // keeps its reload, full screen and developer keys.
    ownKey: function (e) {
      if (e.code === 'F5' || e.code === 'F11' || e.code === 'F12') return false;
      if ((e.ctrlKey || e.metaKey) && (e.code === 'KeyR' || e.code === 'KeyW' || e.code === 'KeyQ'))
        return false;
      return true;
    },

    toPicture: function (clientX, clientY) {
      var r = Page.canvas.getBoundingClientRect();
      if (r.width <= 0 || r.height <= 0) return [0, 0];
      return [Math.floor((clientX - r.left) * 800 / r.width), Math.floor((clientY - r.top) * 600 / r.height)];
    },

    inside: function (p) { return p[0] >= 0 && p[1] >= 0 && p[0] < 800 && p[1] < 600; },

    setFocus: function (focused) {
      if (focused === Page.focused) return;
      Page.focused = focused;
      Page.push(focused ? Page.kind.Activate : Page.kind.Deactivate, {});
      if (!focused) Page.keys.fill(0);  // keys released while away would otherwise stay held
    },

    listen: function () {
      var c = Page.canvas;
      window.addEventListener('keydown', function (e) {
        if (Page.modal) return;
        var scan = Page.scans[e.code] || 0;
        if (scan) Page.keys[scan] = 1;
        Page.push(Page.kind.KeyDown, { scan: scan, letter: Page.letter(e), alt: e.altKey ? 1 : 0 });
        if (e.key && e.key.length === 1 && e.key.charCodeAt(0) < 0x80 && !e.ctrlKey && !e.metaKey)
          Page.push(Page.kind.KeyPress, { ch: e.key.charCodeAt(0) });
        if (Page.ownKey(e)) e.preventDefault();
      });
      window.addEventListener('keyup', function (e) {
        var scan = Page.scans[e.code] || 0;
        if (scan) Page.keys[scan] = 0;
        if (Page.modal) return;
        Page.push(Page.kind.KeyUp, { scan: scan, letter: Page.letter(e), alt: e.altKey ? 1 : 0 });
        if (Page.ownKey(e)) e.preventDefault();
      });
      var buttonOf = function (b) { return b === 2 ? 1 : b === 1 ? 2 : b === 0 ? 0 : -1; };
      c.addEventListener('pointermove', function (e) {
        if (e.pointerType === 'touch') { Page.touchMove(e); return; }
        Page.pointer = Page.toPicture(e.clientX, e.clientY);
        Page.push(Page.kind.MouseMove, { x: Page.pointer[0], y: Page.pointer[1] });
      });
      c.addEventListener('pointerdown', function (e) {
        if (e.pointerType === 'touch') { Page.touchDown(e); return; }
        var button = buttonOf(e.button);
        if (button < 0) return;
        Page.pointer = Page.toPicture(e.clientX, e.clientY);
        if (button === 0) Page.leftInside = Page.inside(Page.pointer);
        Page.push(Page.kind.MouseDown, { button: button, x: Page.pointer[0], y: Page.pointer[1] });
        if (c.setPointerCapture) c.setPointerCapture(e.pointerId);
        e.preventDefault();
      });
      var up = function (e) {
        if (e.pointerType === 'touch') { Page.touchUp(e); return; }
        var button = buttonOf(e.button);
        if (button < 0) return;
        Page.pointer = Page.toPicture(e.clientX, e.clientY);
        Page.push(Page.kind.MouseUp, { button: button, x: Page.pointer[0], y: Page.pointer[1] });
        if (button === 0 && Page.leftInside && Page.inside(Page.pointer))
          Page.push(Page.kind.Click, { x: Page.pointer[0], y: Page.pointer[1] });
        if (button === 0) Page.leftInside = false;
      };
      c.addEventListener('pointerup', up);
      c.addEventListener('pointercancel', function (e) { if (e.pointerType === 'touch') delete Page.touches[e.pointerId]; });
      Page.listenTouchButtons();
      document.addEventListener('fullscreenchange', Page.fullscreenChanged);
      c.addEventListener('contextmenu', function (e) { e.preventDefault(); });
      window.addEventListener('focus', function () { Page.setFocus(!document.hidden); });
      window.addEventListener('blur', function () { Page.setFocus(false); });
      document.addEventListener('visibilitychange', function () { Page.setFocus(!document.hidden); });
    },

    // A finger on the picture steers as the desktop's mouse does: the game puts the pointer back in the
    // middle after each move and reads how far the next move took it, so a drag moves the plane by the
    // finger's travel, wherever on the picture the finger is. The menus see the finger's own place (a
    // hover), and a tap that stays on the picture is a click. A finger is no mouse button: firing and
    // bombs have their own buttons (listenTouchButtons).
    touchDown: function (e) {
      var p = Page.toPicture(e.clientX, e.clientY);
      Page.touches[e.pointerId] = { last: p, from: p, moved: false };
      Page.push(Page.kind.MouseMove, { x: p[0], y: p[1] });
      if (Page.canvas.setPointerCapture) Page.canvas.setPointerCapture(e.pointerId);
      e.preventDefault();
    },
    touchMove: function (e) {
      var t = Page.touches[e.pointerId];
      if (!t) return;
      var p = Page.toPicture(e.clientX, e.clientY);
      Page.pointer = [Page.pointer[0] + p[0] - t.last[0], Page.pointer[1] + p[1] - t.last[1]];
      t.last = p;
      if (Math.abs(p[0] - t.from[0]) + Math.abs(p[1] - t.from[1]) > 24) t.moved = true;
      Page.push(Page.kind.MouseMove, { x: p[0], y: p[1] });
      e.preventDefault();
    },
    touchUp: function (e) {
      var t = Page.touches[e.pointerId];
      if (!t) return;
      delete Page.touches[e.pointerId];
      var p = Page.toPicture(e.clientX, e.clientY);
      if (!t.moved && Page.inside(t.from) && Page.inside(p)) Page.push(Page.kind.Click, { x: p[0], y: p[1] });
    },

    // The on-screen buttons of a touch screen (index.html): fire is the left mouse button and bomb the
    // right one, each held while a finger is on it.
    listenTouchButtons: function () {
      [['touch-fire', 0], ['touch-bomb', 1]].forEach(function (b) {
        var element = document.getElementById(b[0]);
        if (!element) return;
        var held = {};
        var down = function (e) {
          e.preventDefault();
          if (Page.modal) return;
          if (Object.keys(held).length === 0) Page.push(Page.kind.MouseDown, { button: b[1], x: Page.pointer[0], y: Page.pointer[1] });
          held[e.pointerId] = true;
          element.classList.add('held');
          if (element.setPointerCapture) element.setPointerCapture(e.pointerId);
        };
        var up = function (e) {
          if (!held[e.pointerId]) return;
          delete held[e.pointerId];
          if (Object.keys(held).length) return;
          element.classList.remove('held');
          Page.push(Page.kind.MouseUp, { button: b[1], x: Page.pointer[0], y: Page.pointer[1] });
        };
        element.addEventListener('pointerdown', down);
        element.addEventListener('pointerup', up);
        element.addEventListener('pointercancel', up);
        element.addEventListener('contextmenu', function (e) { e.preventDefault(); });
      });
    },

    // The game's full-screen switch is Alt+Enter (released). When the browser leaves full screen by itself
    // (its Escape) or the page's button changes it, the game is told with that same Alt+Enter, so that
    // its own idea of the mode (and config.dat) follows; its switch then finds the page already there.
    fullscreenChanged: function () {
      var now = !!document.fullscreenElement;
      Page.fullscreenPending = false;
      if (now === Page.fullscreenWanted) return;
      Page.fullscreenWanted = now;
      Page.push(Page.kind.KeyUp, { scan: 40, alt: 1 });
    },

    // Keeps the files written under the user's folder in the browser's storage; writes that come while a
    // save is under way are saved after it.
    save: function () {
      if (!Page.storage) return;
      if (Page.saving) { Page.saveAgain = true; return; }
      Page.saving = true;
      FS.syncfs(false, function (error) {
        Page.saving = false;
        if (error) Module.pageNotice && Module.pageNotice('The browser did not keep the game\'s files: ' + error);
        if (Page.saveAgain) { Page.saveAgain = false; Page.save(); }
      });
    }
  },

  pellorin_page_open__deps: ['$Page'],
  pellorin_page_open: function (caption) {
    document.title = UTF8ToString(caption);
    var c = Page.canvas;
    c.width = 800;
    c.height = 600;
    Page.context = c.getContext('2d', { alpha: false });
    Page.image = Page.context.createImageData(800, 600);
    Page.listen();
    Page.focused = document.hasFocus() && !document.hidden;
    if (Module.pageOpened) Module.pageOpened();
  },

  pellorin_page_present__deps: ['$Page'],
  pellorin_page_present: function (rgba) {
    Page.image.data.set(HEAPU8.subarray(rgba, rgba + 800 * 600 * 4));
    Page.context.putImageData(Page.image, 0, 0);
    if (Module.pagePresented) Module.pagePresented();
  },

  pellorin_page_poll__deps: ['$Page'],
  pellorin_page_poll: function (fields) {
    var e = Page.events.shift();
    if (!e) return 0;
    var f = fields >> 2;
    HEAP32[f] = e.kind; HEAP32[f + 1] = e.scan; HEAP32[f + 2] = e.letter; HEAP32[f + 3] = e.alt;
    HEAP32[f + 4] = e.ch; HEAP32[f + 5] = e.button; HEAP32[f + 6] = e.x; HEAP32[f + 7] = e.y;
    return 1;
  },

  pellorin_page_keys__deps: ['$Page'],
  pellorin_page_keys: function (state, count) {
    HEAPU8.set(Page.keys.subarray(0, count), state);
  },

  pellorin_page_now: function () { return performance.now(); },
  pellorin_page_seed: function () { return Date.now() % 4294967296; },

  pellorin_page_set_fullscreen__deps: ['$Page'],
  pellorin_page_set_fullscreen: function (on) {
    var wanted = on !== 0;
    Page.fullscreenWanted = wanted;
    if (wanted === !!document.fullscreenElement) { Page.fullscreenPending = false; return; }
    var done = null;
    try {
      done = wanted ? document.documentElement.requestFullscreen() : document.exitFullscreen();
    } catch (e) {}
    if (!done || !done.then) { Page.fullscreenChanged(); return; }
    // The browser answers later; until then the game takes the mode as asked for.
    Page.fullscreenPending = true;
    // Refused (full screen needs a key or a tap just before): the game goes back to what the page has.
    done.catch(function () { Page.fullscreenChanged(); });
  },
  pellorin_page_fullscreen__deps: ['$Page'],
  pellorin_page_fullscreen: function () {
    return (Page.fullscreenPending ? Page.fullscreenWanted : !!document.fullscreenElement) ? 1 : 0;
  },

  pellorin_page_message__deps: ['$Page'],
  pellorin_page_message: function (text, caption) {
    var dialog = document.createElement('div');
    dialog.className = 'message';
    dialog.setAttribute('role', 'alertdialog');
    var box = document.createElement('div');
    var title = document.createElement('h2');
    title.textContent = UTF8ToString(caption);
    var body = document.createElement('p');
    body.textContent = UTF8ToString(text);
    var ok = document.createElement('button');
    ok.textContent = 'OK';
    var close = function () {
      document.body.removeChild(dialog);
      Page.modal = null;
      Page.keys.fill(0);
    };
    ok.addEventListener('click', close);
    dialog.addEventListener('keydown', function (e) {
      // The key that closes the box is the box's: the game never sees it.
      if (e.key === 'Enter' || e.key === 'Escape' || e.key === ' ') { e.preventDefault(); e.stopPropagation(); close(); }
    });
    box.appendChild(title); box.appendChild(body); box.appendChild(ok);
    dialog.appendChild(box);
    document.body.appendChild(dialog);
    Page.modal = dialog;
    ok.focus();
  },
  pellorin_page_modal_open__deps: ['$Page'],
  pellorin_page_modal_open: function () { return Page.modal ? 1 : 0; },

  pellorin_page_open_url: function (url) {
    var opened = window.open(UTF8ToString(url), '_blank', 'noopener');
    // With noopener the browser hands back no window even when it opened one.
    return 1;
  },

  pellorin_page_show_cursor__deps: ['$Page'],
  pellorin_page_show_cursor: function (visible) {
    if (Page.canvas) Page.canvas.style.cursor = visible ? 'default' : 'none';
  },
  pellorin_page_pointer__deps: ['$Page'],
  pellorin_page_pointer: function (xy) {
    HEAP32[xy >> 2] = Page.pointer[0];
    HEAP32[(xy >> 2) + 1] = Page.pointer[1];
  },
  pellorin_page_set_pointer__deps: ['$Page'],
  pellorin_page_set_pointer: function (x, y) { Page.pointer = [x, y]; },

  pellorin_page_focused__deps: ['$Page'],
  pellorin_page_focused: function () { return Page.focused ? 1 : 0; },

  // The standard mapping's buttons in the program's order: South, East, West, North, Back, Guide, Start,
  // the sticks, the shoulders, then the pad's four directions.
  pellorin_page_gamepad__deps: ['$Page'],
  pellorin_page_gamepad: function (index, state) {
    // Asking the browser for pads costs on every frame; until one has come there is none to read.
    if (!Page.padSeen || !navigator.getGamepads) return 0;
    var pads = Array.prototype.filter.call(navigator.getGamepads(), function (p) { return p && p.connected; });
    var pad = pads[index];
    if (!pad) return 0;
    var order = [0, 1, 2, 3, 8, 16, 9, 10, 11, 4, 5, 12, 13, 14, 15];
    var buttons = 0;
    for (var i = 0; i < order.length; ++i) {
      var b = pad.buttons[order[i]];
      if (b && (b.pressed || b.value > 0.5)) buttons |= 1 << i;
    }
    var axis = function (v) { return Math.max(-32768, Math.min(32767, Math.round((v || 0) * 32767))); };
    var s = state >> 2;
    HEAP32[s] = 1; HEAP32[s + 1] = axis(pad.axes[0]); HEAP32[s + 2] = axis(pad.axes[1]); HEAP32[s + 3] = buttons;
    return 1;
  },

  pellorin_page_storage__deps: ['$Page'],
  pellorin_page_storage: function () { return Page.storage ? 1 : 0; },

  pellorin_page_files_changed__deps: ['$Page'],
  pellorin_page_files_changed: function () { Page.save(); },

  pellorin_page_ended: function () {
    if (Module.pageEnded) Module.pageEnded();
  }
};

autoAddDeps(LibraryPellorinPage, '$Page');
mergeInto(LibraryManager.library, LibraryPellorinPage);
