// Opens teacher.html in headless Chromium, served from an origin of its own,
// and lets it call the guard's /runClient. Prints the page's result line and
// ends with 0 only when the guard's answer could be read (status 200).
// Usage: node run_client_page.js <guard port> [question id]
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const guardPort = Number(process.argv[2]);
const question = process.argv[3] || '17';
if (!Number.isInteger(guardPort) || guardPort <= 0) {
  console.error('usage: node run_client_page.js <guard port> [question id]');
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
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const pagePort = server.address().port;
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'vl-chromium-'));
  let context;
  try {
    context = await chromium.launchPersistentContext(userDataDir, {
      executablePath: '/usr/bin/chromium',
      headless: true,
      timeout: 60000,
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
             '--disable-component-update', '--disable-sync'],
    });
    const tab = context.pages()[0] || await context.newPage();
    await tab.goto(`http://127.0.0.1:${pagePort}/teacher.html?guard=${guardPort}&question=${encodeURIComponent(question)}`);
    await tab.waitForSelector('#result[data-done="1"]', { timeout: 30000 });
    const text = await tab.textContent('#result');
    console.log(text);
    return text.startsWith('status 200 ') ? 0 : 1;
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
