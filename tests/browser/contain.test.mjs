// Visitor markup in a real browser: whatever a visitor leaves open or closes
// stays inside its own field, and what a visitor types comes back as typed.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { startSite, launchBrowser, postMessage as post, boardSettled } from './site.mjs';

// Every element a visitor makes carries class=v, so the page can tell them
// from its own. Names are cut at 19 bytes by the store.
const messages = [
  { name: 'plain', subject: 'a plain message', body: 'nothing but text' },
  { name: '<a href=/x>n</a>', email: 'm@x.org', subject: '</a>stray close', body: '<h1 class=v>open heading' },
  { name: '<b class=v>bold', subject: '<a href=http://example.com/ class=v>plain link</a>',
    body: '<center class=v><div class=v>x</center></font></div>' },
  { name: '</font></td>', subject: '<font size=7 class=v>big',
    body: '<a href=http://example.com/ class=v>unclosed link<pre class=v>pre' },
  { name: 'n', email: '<a href=/e class=v>e</a>', homepage: '</a><h1 class=v>home', subject: '<pre class=v>pre subject',
    body: '</center></font></div></td></table></a>stray<font size=7 class=v><div class=v>' },
  { name: 'n', subject: '<div class=v><p class=v>x', body: '<b class=v><i class=v>x</b>y</i><ul class=v><li class=v>z' },
];

// The page's own parts and where they sit: none inside a visitor's element.
function ownParts() {
  const inVisitor = (el) => el.closest('.v') !== null;
  const links = [...document.querySelectorAll('a')].filter((a) => !inVisitor(a)).map((a) => a.getAttribute('href'));
  const footer = [...document.querySelectorAll('a[href="mailto:admin@localhost"]')];
  const style = footer.length ? getComputedStyle(footer[footer.length - 1]) : null;
  return {
    links,
    footerInVisitor: footer.some(inVisitor),
    footerStyle: style ? [style.fontSize, style.fontWeight, style.fontStyle, style.whiteSpace, style.textAlign] : null,
    visitorOutsideCell: [...document.querySelectorAll('.v')].filter((el) => !el.closest('td, caption')).length,
    formsInVisitor: [...document.querySelectorAll('form')].filter(inVisitor).length,
    offSite: [...document.querySelectorAll('a')].filter((a) => (a.getAttribute('href') || '').includes('example.com'))
      .map((a) => a.closest('td') ? a.closest('td').innerText : ''),
    // Cells whose whole text sits in the page's own first element (its
    // font, link or bold): a stray end tag closing it leaves text outside.
    wrappedCells: [...document.querySelectorAll('td, caption')].map((cell) => {
      const first = cell.firstElementChild;
      return first !== null && !first.classList.contains('v') && first.textContent === cell.textContent;
    }),
    bodyTableBeforeFooter: (() => {
      const tables = document.querySelectorAll('table');
      return footer.length > 0 && tables.length >= 2
        && (tables[1].compareDocumentPosition(footer[footer.length - 1]) & Node.DOCUMENT_POSITION_FOLLOWING) !== 0
        && !tables[1].contains(footer[footer.length - 1]);
    })(),
  };
}

test('hostile fields leave the listing and message pages whole', async (t) => {
  const site = await startSite();
  t.after(() => site.stop());
  for (const m of messages) {
    assert.equal(await post(site, { name: '', email: '', homepage: '', subject: '', body: '', ...m }), 200);
  }
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();

  await page.goto(site.listUrl(1));
  const listing = await page.evaluate(ownParts);
  for (let n = 1; n <= messages.length; n++) {
    assert.ok(listing.links.includes(`/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${n}`), `listing links message ${n}`);
  }
  assert.ok(listing.links.includes('/cgi-bin/FormPage.exe?BoardNum=1&BoardNum=-1'));
  assert.ok(listing.links.includes('mailto:m@x.org'));
  assert.equal(listing.footerInVisitor, false);
  assert.equal(listing.visitorOutsideCell, 0);
  assert.deepEqual(listing.offSite, [], 'a visitor link took the place of the row link');
  for (const href of listing.links) assert.match(href, /^(\/cgi-bin\/|mailto:)/, 'only the page\'s own links');
  // Each row's subject link opens its message.
  for (let n = 1; n <= messages.length; n++) {
    const link = page.locator(`a[href="/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${n}"]`);
    await Promise.all([page.waitForURL(new RegExp(`TextNum=${n}$`), { timeout: 10000 }), link.click()]);
    await page.goBack();
  }

  await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`);
  const plain = await page.evaluate(ownParts);
  assert.ok(plain.bodyTableBeforeFooter);
  for (let n = 2; n <= messages.length; n++) {
    await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${n}`);
    const shown = await page.evaluate(ownParts);
    const url = page.url();
    // The navigation and footer links of a plain message, all outside the visitor's markup.
    for (const href of plain.links.filter((h) => /ListPage|mailto:admin/.test(h))) {
      assert.ok(shown.links.includes(href), `${url} keeps ${href}`);
    }
    assert.equal(shown.formsInVisitor, 0, url);
    assert.equal(shown.footerInVisitor, false, url);
    assert.equal(shown.visitorOutsideCell, 0, url);
    assert.ok(shown.bodyTableBeforeFooter, `${url}: footer after the body`);
    assert.deepEqual(shown.footerStyle, plain.footerStyle, `${url}: the footer looks as on a plain message`);
    assert.equal(shown.wrappedCells.length, plain.wrappedCells.length, url);
    plain.wrappedCells.forEach((wrapped, k) => {
      if (wrapped) assert.ok(shown.wrappedCells[k], `${url}: cell ${k} keeps its text inside the page's markup`);
    });
    assert.equal(await page.locator('form[action*="EditPage.exe"] input[name=password]').count(), 1, url);
    assert.equal(await page.locator('form[action*="DropPage.exe"] input[name=password]').count(), 1, url);
  }
  // A link with a query in an unquoted href stays a link.
  assert.equal(await post(site, { name: 'q', email: '', homepage: 'http://example.org/p?q=1',
    subject: 'query', body: '<a href=http://example.org/p?q=1&r=2 class=v>link</a>' }), 200);
  await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=${messages.length + 1}`);
  assert.equal(await page.locator('a.v').getAttribute('href'), 'http://example.org/p?q=1&r=2');
  assert.equal(await page.locator('a', { hasText: 'http://example.org/p?q=1' }).getAttribute('href'),
    'http://example.org/p?q=1');
});

function field(record, offset, width) {
  const bytes = record.subarray(offset, offset + width);
  const end = bytes.indexOf(0);
  return bytes.subarray(0, end < 0 ? width : end).toString('latin1');
}

test('characters EUC-KR cannot hold come back as typed through an edit', async (t) => {
  const site = await startSite();
  t.after(() => site.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();
  page.on('dialog', (dialog) => dialog.accept());

  const typed = {
    name: '😀 é',
    email: 'é@x.org',
    homepage: 'http://x.example/?q=1',
    subject: 'café ☃ 한 똠 &#60; &#128512;',
    body: '😀 line\n&#60;b> typed &amp; ☃',
  };
  await page.goto(`${site.baseUrl}/cgi-bin/FormPage.exe?BoardNum=1`);
  for (const [name, value] of Object.entries(typed)) {
    await page.fill(name === 'body' ? 'textarea[name=body]' : `input[name=${name}]`, value);
  }
  await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit]')]);
  assert.match(await page.innerText('body'), /😀 line/);

  const board = join(site.root, 'boards', '1');
  const record = async () => {
    await boardSettled(board);
    return (await readFile(join(board, 'guestbook.dat'))).subarray(125, 125 + 410);
  };
  const before = await record();
  const bodyBefore = await readFile(join(board, 'guestbook1.html'));
  // The browser sent references for what EUC-KR cannot hold.
  assert.equal(field(before, 5, 20), '&#128512; &#233;');

  await page.goto(`${site.baseUrl}/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=1`);
  const editForm = page.locator('form[action*="EditPage.exe"]');
  await editForm.locator('input[name=password]').fill(site.password);
  await Promise.all([page.waitForURL(/EditPage\.exe/), editForm.locator('input[type=submit]').click()]);
  for (const [name, value] of Object.entries(typed)) {
    const shown = await page.inputValue(name === 'body' ? 'textarea[name=body]' : `input[name=${name}]`);
    // A typed "&#128512;" is posted as that text; the form shows the character.
    const expected = name === 'subject' ? value.replace('&#128512;', '😀') : value;
    assert.equal(shown, expected, name);
  }
  await Promise.all([page.waitForURL(/SavePage\.exe/), page.click('input[type=submit][value="글 올리기"]')]);

  const after = await record();
  for (const [offset, width] of [[5, 20], [65, 40], [115, 80], [195, 5], [200, 60]]) {
    assert.equal(field(after, offset, width), field(before, offset, width), `field at ${offset}`);
  }
  assert.deepEqual(await readFile(join(board, 'guestbook1.html')), bodyBefore);
});
