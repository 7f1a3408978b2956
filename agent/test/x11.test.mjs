// Window skills against a real X server and window manager.

import { describe, it, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startDaemon } from '../testkit/daemon.mjs';
import { missingXPrograms, startX, stopX, openWindow, frameGeometry, workArea, run, waitFor } from '../testkit/xserver.mjs';

const missing = await missingXPrograms();

if (missing) {
  test('window skills on a private X server', { skip: `X11 test tools ${missing}` }, () => {});
} else {
  describe('window skills on a private X server', () => {
    let x;
    let daemon;
    const windows = {};

    before(async () => {
      x = await startX();
      daemon = await startDaemon({ env: { DISPLAY: x.display } });
    });
    after(async () => {
      await daemon?.stop();
      if (x) await stopX(x);
    });

    const activate = (id) => run('xdotool', ['windowactivate', '--sync', id], x.env);
    const sameFrame = async (id, want) => {
      const got = await frameGeometry(x, id);
      return ['x', 'y', 'width', 'height'].every((k) => got[k] === want[k]) ? got : null;
    };

    it('says so when there are no windows', async () => {
      assert.deepEqual((await daemon.ask('what apps are open')).lines.map((l) => l.title), ['No windows are open']);
      assert.deepEqual((await daemon.ask('left half')).lines.map((l) => l.title), ['No window to move']);
    });

    it('lists open windows with their class, never the palette panel', async () => {
      windows.notes = await openWindow(x, { name: 'notes', title: 'Shopping list' });
      windows.editor = await openWindow(x, { name: 'editor', title: 'Editor' });
      windows.panel = await openWindow(x, { name: 'ostrel', title: 'Ostrel panel' });
      await run('xdotool', ['set_window', '--class', 'Ostrel', windows.panel.id], x.env);
      const wmClass = await run('xprop', ['-id', windows.panel.id, 'WM_CLASS'], x.env);
      assert.match(wmClass, /"ostrel", "Ostrel"/);
      await run('xdotool', ['set_window', '--name', 'Café "menu"\nsecond line', windows.editor.id], x.env);

      const doc = await daemon.ask('what apps are open');
      assert.equal(doc.keepOpen, false);
      const rows = doc.lines.map((l) => [l.title, l.subtitle]).sort();
      assert.deepEqual(rows, [['Café "menu" second line', 'Xmessage'], ['Shopping list', 'Xmessage']]);
      for (const sentence of ['which apps are running', 'list windows']) {
        const again = await daemon.ask(sentence);
        assert.equal(again.lines.length, 2, sentence);
        assert.ok(again.lines.every((l) => !/ostrel/i.test(`${l.title} ${l.subtitle}`)), sentence);
      }
    });

    it('moves the window beneath the panel, not the panel', async () => {
      const area = await workArea(x);
      const half = Math.floor(area.width / 2);
      await activate(windows.notes.id);
      await activate(windows.panel.id);
      const panelBefore = await frameGeometry(x, windows.panel.id);

      const doc = await daemon.ask('move the window to the left half');
      assert.deepEqual(doc.lines, [{ title: 'Moved Shopping list', subtitle: 'to the left half' }]);
      await waitFor(() => sameFrame(windows.notes.id, { x: area.x, y: area.y, width: half, height: area.height }), 'the left half');
      assert.deepEqual(await frameGeometry(x, windows.panel.id), panelBefore, 'the panel moved');
    });

    it('moves the active window to each half', async () => {
      const area = await workArea(x);
      const halfW = Math.floor(area.width / 2);
      const halfH = Math.floor(area.height / 2);
      const cases = [
        ['right half', 'to the right half', { x: area.x + halfW, y: area.y, width: area.width - halfW, height: area.height }],
        ['top half', 'to the top half', { x: area.x, y: area.y, width: area.width, height: halfH }],
        ['bottom half', 'to the bottom half', { x: area.x, y: area.y + halfH, width: area.width, height: area.height - halfH }],
        ['left half', 'to the left half', { x: area.x, y: area.y, width: halfW, height: area.height }],
      ];
      await activate(windows.editor.id);
      for (const [sentence, where, frame] of cases) {
        const doc = await daemon.ask(sentence);
        assert.equal(doc.lines[0].subtitle, where, sentence);
        assert.match(doc.lines[0].title, /^Moved Café/, sentence);
        await waitFor(() => sameFrame(windows.editor.id, frame), sentence);
      }
    });

    it('maximizes, and restores a maximized window before placing it', async () => {
      const area = await workArea(x);
      const isMaximized = async () => /MAXIMIZED_VERT.*MAXIMIZED_HORZ|MAXIMIZED_HORZ.*MAXIMIZED_VERT/.test(
        await run('xprop', ['-id', windows.notes.id, '_NET_WM_STATE'], x.env));
      const maximize = async () => {
        const doc = await daemon.ask('maximise');
        assert.deepEqual(doc.lines, [{ title: 'Maximized Shopping list', subtitle: 'to fill the screen' }]);
        await waitFor(isMaximized, 'maximized state');
      };
      await activate(windows.notes.id);

      // Maximized windows have thinner decorations; the half must still be
      // exact once the window is restored.
      await maximize();
      await daemon.ask('right half');
      const half = Math.floor(area.width / 2);
      await waitFor(() => sameFrame(windows.notes.id, { x: area.x + half, y: area.y, width: area.width - half, height: area.height }), 'the right half');
      assert.equal(await isMaximized(), false);

      await maximize();
      const centered = await daemon.ask('center the window');
      assert.deepEqual(centered.lines, [{ title: 'Moved Shopping list', subtitle: 'to the center' }]);
      await waitFor(async () => {
        const g = await frameGeometry(x, windows.notes.id);
        const middle = (a, b) => Math.abs(a - b) <= 1;
        return !(await isMaximized())
          && middle(g.x + g.width / 2, area.x + area.width / 2)
          && middle(g.y + g.height / 2, area.y + area.height / 2)
          && g.width < area.width && g.height < area.height;
      }, 'a centered window');
    });
  });
}
