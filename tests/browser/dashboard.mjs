// The local web page in a real headless Chromium (Debian's package, driven
// by playwright-core): signed out it shows nothing; signed in through the
// token address, a scan sent meanwhile appears without reloading, with its
// thumbnail decoded; a destination added through the form receives a
// scan; a change without the CSRF token is refused. Screenshots go to
// QB_ARTIFACTS.
//
// Environment: QB_WEB_URL (the address with the token), QB_SENDSCAN,
// QB_SCAN_FOLDER (an empty folder for the new destination), QB_ARTIFACTS.
import {chromium} from 'playwright-core';
import {execFileSync} from 'node:child_process';
import {readdirSync} from 'node:fs';
import assert from 'node:assert/strict';

const tokenUrl = process.env.QB_WEB_URL;
const base = new URL('/', tokenUrl).href;
const artifacts = process.env.QB_ARTIFACTS;
const sendscan = (...args) => execFileSync(process.env.QB_SENDSCAN, ['--timeout', '10', ...args],
                                          {encoding: 'utf8', timeout: 60000});

const browser = await chromium.launch({executablePath: process.env.QB_CHROMIUM || '/usr/bin/chromium',
                                       args: ['--no-sandbox']});
try {
  // Signed out: the sign-in notice, and the data refused.
  const outsider = await browser.newPage();
  const notice = await outsider.goto(base);
  assert.equal(notice.status(), 401);
  await outsider.getByText('quillbox-config web-url').waitFor();
  assert.equal((await outsider.request.get(base + 'api/state')).status(), 401);
  const wrong = await outsider.goto(base + '?token=' + 'f'.repeat(48));
  assert.equal(wrong.status(), 401);
  await outsider.close();

  const page = await browser.newPage({viewport: {width: 1280, height: 900}});
  await page.goto(tokenUrl);
  assert.equal(new URL(page.url()).search, '', 'the token leaves the address bar');
  await page.locator('#receiver').filter({hasText: 'Receiver running'}).waitFor();

  // A document sent now shows up without a reload, with its thumbnail.
  sendscan('raw', '1', '--doc-name', 'browser');
  const item = page.locator('#documents li.document').filter({hasText: 'browser'}).first();
  await item.waitFor({timeout: 15000});
  const thumb = item.locator('img.thumb');
  await thumb.waitFor({timeout: 15000});
  await page.waitForFunction(img => img.complete && img.naturalWidth > 0,
                             await thumb.elementHandle(), {timeout: 15000});
  const size = await thumb.evaluate(img => [img.naturalWidth, img.naturalHeight]);
  assert.ok(size[0] > 20 && size[1] > 20, 'thumbnail decoded: ' + size);
  await page.screenshot({path: artifacts + '/dashboard.png', fullPage: true});

  // A destination added through the form receives a scan.
  await page.getByRole('button', {name: 'Destinations'}).click();
  const form = page.locator('#dest-form');
  await form.locator('input[name=number]').fill('5');
  await form.locator('input[name=folder]').fill(process.env.QB_SCAN_FOLDER);
  await form.locator('input[name=description]').fill('Added in the browser');
  await form.getByRole('button', {name: 'Add'}).click();
  await page.locator('#dest-result').filter({hasText: 'Saved.'}).waitFor();
  await page.locator('#dest-table').getByText('Added in the browser').waitFor();
  await page.screenshot({path: artifacts + '/destinations.png', fullPage: true});
  sendscan('raw', '5', '--doc-name', 'formdest');
  assert.ok(readdirSync(process.env.QB_SCAN_FOLDER).some(name => name.startsWith('formdest')),
            'the new destination received the scan');

  // A refused form says why and changes nothing.
  await form.locator('input[name=number]').fill('6');
  await form.locator('input[name=folder]').fill('relative/path');
  await form.getByRole('button', {name: 'Add'}).click();
  await page.locator('#dest-result.bad').waitFor();

  // The page's session without its CSRF token changes nothing.
  const status = await page.evaluate(async () => (await fetch('/api/destinations', {
    method: 'POST', headers: {'Content-Type': 'application/x-www-form-urlencoded'},
    body: 'action=remove&number=5'})).status);
  assert.equal(status, 403);
  await page.getByRole('button', {name: 'Destinations'}).click();
  await page.locator('#dest-table').getByText('Added in the browser').waitFor();

  // The receive log finds the document by its name.
  await page.getByRole('button', {name: 'Receive log'}).click();
  await page.locator('#log-search').fill('formdest');
  await page.locator('#log-table tbody tr').filter({hasText: 'formdest'}).waitFor();
  console.log('browser test passed');
} finally {
  await browser.close();
}
