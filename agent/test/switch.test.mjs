// Switching windows by name on a private X server with a window manager.

import { describe, it, test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startDaemon } from '../testkit/daemon.mjs';
import { missingXPrograms, startX, stopX, openWindow, run, waitFor } from '../testkit/xserver.mjs';

const missing = await missingXPrograms();

if (missing) {
  test('switching windows on a private X server', { skip: `X11 test tools ${missing}` }, () => {});
} else {
  describe('switching windows on a private X server', () => {
    let x;
    let daemon;
    const win = {};

    before(async () => {
      x = await startX();
      daemon = await startDaemon({ env: { DISPLAY: x.display } });
      await run('wmctrl', ['-n', '2'], x.env);
      win.notes = await openWindow(x, { name: 'notes', title: 'Shopping list' });
      win.editor = await openWindow(x, { name: 'editor', title: 'Editor' });
      // The panel's title matches "shopping" better than the list does.
      win.panel = await openWindow(x, { name: 'ostrel', title: 'Shopping' });
      await run('xdotool', ['set_window', '--class', 'Ostrel', win.panel.id], x.env);
    });
    after(async () => {
      await daemon?.stop();
      if (x) await stopX(x);
    });

    const root = async (prop) => Number(/(?:= |window id # )(0x[0-9a-f]+|\d+)/.exec(await run('xprop', ['-root', prop], x.env))?.[1]);
    const isActive = (id) => async () => (await root('_NET_ACTIVE_WINDOW')) === Number(id);

    it('activates the best match by title or class, never the panel, and leaves other requests alone', async () => {
      const cases = [
        ['switch to shopping', 'notes', /^Switched to Shopping list$/], ['go to Editor', 'editor', /^Switched to Editor$/],
        ['show shoping lst', 'notes', /^Switched to Shopping list$/], ['focus the editor window', 'editor', /^Switched to Editor$/],
        ['switch to notes', 'notes', /^Switched to Shopping list$/], ['switch to ostrel', null, /^No window matches "ostrel"$/],
        ['go to the moon', null, /^No window matches "moon"$/], ['show battery', null, /battery/i],
        ['show me the open apps', null, /^(Shopping list|Editor)$/],
      ];
      for (const [sentence, target, title] of cases) {
        await run('xdotool', ['windowactivate', '--sync', win.panel.id], x.env);
        const doc = await daemon.ask(sentence);
        for (const line of doc.lines) assert.match(line.title, title, sentence);
        if (target) await waitFor(isActive(win[target].id), `${target} active after "${sentence}"`);
      }
    });

    it('changes to the desktop the window is on', async () => {
      await run('wmctrl', ['-i', '-r', win.editor.id, '-t', '1'], x.env);
      await run('wmctrl', ['-s', '0'], x.env);
      await waitFor(async () => (await root('_NET_CURRENT_DESKTOP')) === 0, 'desktop 0');
      assert.equal((await daemon.ask('switch to editor')).lines[0].title, 'Switched to Editor');
      await waitFor(async () => (await root('_NET_CURRENT_DESKTOP')) === 1 && (await isActive(win.editor.id)()), 'editor on desktop 1');
    });
  });
}
