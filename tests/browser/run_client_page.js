// Opens teacher.html in headless Chromium once for each page origin given and
// lets it call the guard's /runClient. The page is served by this script on
// 127.0.0.1; each name in the list is mapped onto 127.0.0.1 inside Chromium
// only (nothing is looked up anywhere), so that the same page can come from
// different origins: http://<name>:<page port>. Prints one line per page,
// "<name>: <the page's result>", and ends with 0 once every page has read the
// guard's answer, whatever its status. With $VL_BROWSER_SCREENSHOTS set to a
// folder, each page is saved there as <name>.png once it has its answer.
// Usage: node run_client_page.js <guard port> <question id> <page port> <name>...
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const guardPort = Number(process.argv[2]);
const question = process.argv[3] || '17';
const pagePort = Number(process.argv[4] || 0);
const names = process.argv.slice(5);
if (!Number.isInteger(guardPort) || guardPort <= 0 || !Number.isInteger(pagePort) || names.length === 0) {
  console.error('usage: node run_client_page.js <guard port> <question id> <page port> <name>...');
  process.exit(2);
}

const page = fs.readFileSync(path.join(__dirname, 'teacher.html'));
const server = http.createServer((req, res) => {
  if (req.url.startsWith('/teacher.html')) {
    res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    res.end(page);
  } else {
    res.writeHead(404);
    res.end();
  }
});

async function main() {
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(pagePort, '127.0.0.1', resolve);
  });
  const port = server.address().port;
  const mapped = names.filter((name) => name !== '127.0.0.1');
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'vl-chromium-'));
  let context;
  let done = 0;
  try {
    const args = ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
                  '--disable-component-update', '--disable-sync'];
    if (mapped.length > 0)
      args.push('--host-resolver-rules=' + mapped.map((name) => `MAP ${name} 127.0.0.1`).join(', '));
    context = await chromium.launchPersistentContext(userDataDir, {
      executablePath: '/usr/bin/chromium',
      headless: true,
      timeout: 60000,
      args,
    });
    for (const name of names) {
      const tab = await context.newPage();
      await tab.goto(`http://${name}:${port}/teacher.html?guard=${guardPort}&question=${encodeURIComponent(question)}`);
      await tab.waitForSelector('#result[data-done="1"]', { timeout: 30000 });
      console.log(`${name}: ${await tab.textContent('#result')}`);
      if (process.env.VL_BROWSER_SCREENSHOTS)
        await tab.screenshot({ path: path.join(process.env.VL_BROWSER_SCREENSHOTS, `${name}.png`) });
      await tab.close();
      ++done;
    }
    return done === names.length ? 0 : 1;
  } finally {
    if (context) await context.close();
    server.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  }
}

main().then((code) => process.exit(code), (error) => {
  console.error(String(error && error.stack || error));
  process.exit(1);
});
