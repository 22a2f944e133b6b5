// Every kind of page with PHONE_PAGES on, in Chromium at a phone's size and
// a desktop's: on the phone text of 16 CSS pixels or more, no sideways
// scrolling, links and buttons 44 pixels high, each password box with its
// own button; on the desktop the page as it was without the stylesheet.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdir } from 'node:fs/promises';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { startSite, launchBrowser, httpRequest, boardSettled } from './site.mjs';

const output = join(dirname(fileURLToPath(import.meta.url)), 'output');
const lines = ['PHONE_PAGES on', 'ADDRESS_SHOWN masked', 'FEED on', 'TITLE 1 첫 게시판', 'TITLE 2 둘째 게시판'];

const viewports = [
  { name: 'phone', width: 390, height: 844 },
  { name: 'desktop', width: 1280, height: 900 },
];

// Submits the form that holds `selector`'s field after filling it.
async function submitWith(page, form, password, url) {
  const f = page.locator(form);
  await f.locator('input[name=password]').fill(password);
  await Promise.all([page.waitForURL(url), f.locator('input[type=submit]').click()]);
}

// Each kind of page, reached as a visitor reaches it.
const kinds = [
  { kind: 'front', open: (page, site) => page.goto(site.baseUrl + '/') },
  { kind: 'empty-listing', open: (page, site) => page.goto(site.listUrl(2)) },
  { kind: 'listing', open: (page, site) => page.goto(site.listUrl(1)) },
  { kind: 'message', open: (page, site) => page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`) },
  { kind: 'compose', open: (page, site) => page.goto(`${site.baseUrl}/cgi-bin/FormPage.exe?BoardNum=1&TextNum=-1`) },
  {
    kind: 'edit',
    open: async (page, site) => {
      await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`);
      await submitWith(page, 'form[action*="EditPage.exe"]', site.password, /EditPage\.exe/);
    },
  },
  {
    kind: 'stored',
    open: async (page, site) => {
      await page.goto(`${site.baseUrl}/cgi-bin/FormPage.exe?BoardNum=1&TextNum=-1`);
      await page.fill('input[name=name]', '홍길동');
      await page.fill('input[name=subject]', '전화로 쓴 글');
      await page.fill('textarea[name=body]', '작은 화면에서도 읽힙니다. ' + 'x'.repeat(120));
      await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit]')]);
    },
  },
  {
    kind: 'denied',
    open: async (page, site) => {
      await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`);
      await submitWith(page, 'form[action*="DropPage.exe"]', 'wrongpass', /DropPage\.exe/);
    },
  },
  { kind: 'error', open: (page, site) => page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=99`) },
];

// What a person sees of the page's layout: every element's box, font and
// colours (the animated rule keeps two screenshots from matching).
function layout(page) {
  return page.evaluate(() => [...document.querySelectorAll('body *')].map((e) => {
    const r = e.getBoundingClientRect();
    const s = getComputedStyle(e);
    return `${e.tagName} ${r.x},${r.y},${r.width},${r.height} ${s.fontSize} ${s.fontWeight} ${s.color} ${s.backgroundColor} ${s.display}`;
  }));
}

function phoneFaults(page) {
  return page.evaluate(() => {
    const faults = [];
    const width = window.innerWidth;
    const scroll = document.scrollingElement.scrollWidth;
    if (scroll > width) faults.push(`scroll width ${scroll} > ${width}`);
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      if (!node.textContent.trim()) continue;
      const size = parseFloat(getComputedStyle(node.parentElement).fontSize);
      if (size < 16) faults.push(`${size}px: ${node.textContent.trim().slice(0, 30)}`);
    }
    for (const e of document.querySelectorAll('a, button, input[type=submit], input[type=reset], input[type=button]')) {
      const r = e.getBoundingClientRect();
      if (r.height < 44) faults.push(`${e.tagName} ${e.outerHTML.slice(0, 60)} is ${r.height}px high`);
      if (r.right > width + 0.5 || r.left < -0.5) faults.push(`${e.outerHTML.slice(0, 60)} lies outside the screen`);
    }
    for (const box of document.querySelectorAll('input[type=password]')) {
      const buttons = box.form ? box.form.querySelectorAll('input[type=submit]') : [];
      if (buttons.length !== 1) faults.push(`a password box with ${buttons.length} buttons`);
      const r = box.getBoundingClientRect();
      if (r.height < 44 || r.right > width + 0.5) faults.push(`password box ${r.width}x${r.height}`);
    }
    return faults;
  });
}

test('every kind of page reads on a phone and looks as before on a desktop', async (t) => {
  await mkdir(output, { recursive: true });
  const site = await startSite({ lines, boards: ['2 title2.gif'] });
  t.after(() => site.stop());
  // "손님" writes "부하 시험" in EUC-KR, as a browser sends it, and a long line.
  const body = `${'%BA%CE%C7%CF+%BD%C3%C7%E8+'.repeat(20)}${'y'.repeat(300)}`;
  const form = `name=%BC%D5%B4%D4&email=guest%40example.org&homepage=http%3A%2F%2Fexample.org%2F&subject=%BA%CE%C7%CF&body=${body}`;
  const posted = await httpRequest(`${site.baseUrl}/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1`, { method: 'POST', body: form });
  assert.equal(posted.status, 200);
  await boardSettled(join(site.root, 'boards', '1'));

  const browser = await launchBrowser();
  t.after(() => browser.close());
  for (const viewport of viewports) {
    const context = await browser.newContext({ viewport: { width: viewport.width, height: viewport.height }, isMobile: viewport.name === 'phone', hasTouch: viewport.name === 'phone' });
    const page = await context.newPage();
    page.on('dialog', (dialog) => dialog.accept());
    for (const { kind, open } of kinds) {
      const what = `${kind} (${viewport.name})`;
      await open(page, site);
      await page.waitForLoadState('load');
      const sheet = await page.evaluate(() => [...document.styleSheets].filter((s) => s.href && s.href.endsWith('/Image/gesipan.css')).length);
      assert.equal(sheet, 1, `${what}: the stylesheet is loaded`);
      await page.screenshot({ path: join(output, `phones-${viewport.name}-${kind}.png`), fullPage: true });
      if (viewport.name === 'phone') {
        assert.deepEqual(await phoneFaults(page), [], what);
        const metaWidth = await page.evaluate(() => window.innerWidth);
        assert.equal(metaWidth, viewport.width, `${what}: laid out at the phone's width`);
      } else {
        // Without the stylesheet the page is as it was: the same boxes,
        // fonts and colours.
        const styled = await layout(page);
        await page.evaluate(() => { for (const s of document.styleSheets) s.disabled = true; });
        assert.deepEqual(styled, await layout(page), what);
      }
    }
    await context.close();
  }
});
