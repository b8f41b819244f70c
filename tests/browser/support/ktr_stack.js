// What a browser test runs against: a real ktr-sim on a pseudo-terminal, a
// real `ktr-cli serve` on a free loopback port with the pages of WEB_ROOT,
// and headless Debian chromium driven by playwright-core. Every process is
// started here and stopped by its PID.
//
// Environment: KTR_SIM, KTR_CLI (the two programs), WEB_ROOT (the Web
// folder), CHROMIUM (default /usr/bin/chromium).
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const kStartTimeoutMs = 20000;
const kStopTimeoutMs = 5000;

function need(name) {
  const value = process.env[name];
  if (!value) throw new Error('environment variable ' + name + ' is not set (see tests/browser/run.sh)');
  return value;
}

// A child process whose stdout and stderr lines are kept.
class Child {
  constructor(label, file, args) {
    this.label = label;
    this.out = [];
    this.err = [];
    this.exited = null;
    this.proc = spawn(file, args, { stdio: ['ignore', 'pipe', 'pipe'] });
    this.pid = this.proc.pid;
    this.exit = new Promise((resolve) => {
      this.proc.on('exit', (code, signal) => {
        this.exited = { code, signal };
        resolve(this.exited);
      });
      this.proc.on('error', (error) => {
        this.exited = { code: -1, signal: null, error };
        resolve(this.exited);
      });
    });
    const lines = (stream, into) => {
      let rest = '';
      stream.setEncoding('utf8');
      stream.on('data', (chunk) => {
        rest += chunk;
        const parts = rest.split('\n');
        rest = parts.pop();
        into.push(...parts);
      });
    };
    lines(this.proc.stdout, this.out);
    lines(this.proc.stderr, this.err);
  }

  // Resolves with the first stdout line that matches, or rejects when the
  // process ends or the time is up.
  async waitFor(pattern, timeoutMs = kStartTimeoutMs) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const line = this.out.find((l) => pattern.test(l));
      if (line) return line;
      if (this.exited) {
        throw new Error(this.label + ' ended (' + JSON.stringify(this.exited) + ') before printing ' + pattern +
          '\nstderr:\n' + this.err.join('\n'));
      }
      if (Date.now() > deadline) {
        throw new Error(this.label + ' printed no ' + pattern + ' within ' + timeoutMs + ' ms\nstderr:\n' +
          this.err.join('\n'));
      }
      await new Promise((r) => setTimeout(r, 20));
    }
  }

  // SIGTERM by PID, SIGKILL if it does not end in time.
  async stop() {
    if (this.exited) return this.exited;
    try {
      process.kill(this.pid, 'SIGTERM');
    } catch (error) {
      return this.exit;
    }
    const timer = setTimeout(() => {
      try {
        process.kill(this.pid, 'SIGKILL');
      } catch (error) {
        // already gone
      }
    }, kStopTimeoutMs);
    const result = await this.exit;
    clearTimeout(timer);
    return result;
  }
}

class KtrStack {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ktr-pages-'));
    this.link = path.join(this.dir, 'ktr0');
    this.sim = null;
    this.serve = null;
    this.context = null;
    this.base = '';
  }

  // ktr-sim on a new pty, linked at this.link.
  async startSim(extraArgs = []) {
    this.sim = new Child('ktr-sim', need('KTR_SIM'), ['--pty', this.link, ...extraArgs]);
    await this.sim.waitFor(/^ready /);
  }

  async stopSim() {
    if (this.sim) await this.sim.stop();
    this.sim = null;
  }

  // ktr-cli serve; without an address it searches the bus first, which also
  // reads the firmware text and version as the window's search does.
  async startServe(extraArgs = []) {
    this.serve = new Child('ktr-cli serve', need('KTR_CLI'),
      ['serve', '--port', this.link, '--listen', '127.0.0.1:0', '--web', need('WEB_ROOT'), ...extraArgs]);
    const line = await this.serve.waitFor(/^listening on http:\/\//);
    this.base = /^listening on (http:\/\/[^ ]+)/.exec(line)[1];
  }

  // locale: the browser's language (navigator.language, Accept-Language).
  async startBrowser(locale = 'en-US') {
    const profile = fs.mkdtempSync(path.join(this.dir, 'profile-'));
    this.context = await chromium.launchPersistentContext(profile, {
      locale,
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      headless: true,
      args: [
        '--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
        '--disable-component-update', '--no-first-run', '--disable-sync', '--disable-quic',
      ],
      viewport: { width: 1280, height: 900 },
      baseURL: this.base,
    });
  }

  async start(locale) {
    await this.startSim();
    await this.startServe();
    await this.startBrowser(locale);
    return this;
  }

  // Stops everything; throws when ktr-cli serve did not end cleanly on its
  // SIGTERM (exit code 0), e.g. a sanitizer report at exit.
  async stop() {
    if (this.context) await this.context.close().catch(() => {});
    this.context = null;
    let served = null;
    if (this.serve) served = await this.serve.stop();
    const log = this.serve ? this.serve.err.slice(-20).join('\n') : '';
    this.serve = null;
    await this.stopSim();
    fs.rmSync(this.dir, { recursive: true, force: true });
    if (served && served.code !== 0) {
      throw new Error('ktr-cli serve ended with ' + JSON.stringify(served) + '\n' + log);
    }
  }

  // A new tab; page errors and failed loads of our own files are collected
  // so that a test can insist there were none.
  async newPage(options = {}) {
    const page = await this.context.newPage();
    if (options.viewport) await page.setViewportSize(options.viewport);
    page.problems = [];
    page.bodies = [];
    page.on('pageerror', (error) => page.problems.push('page error: ' + error.message));
    page.on('console', (msg) => {
      if (msg.type() === 'error' && !/Failed to load resource/.test(msg.text())) {
        page.problems.push('console error: ' + msg.text());
      }
    });
    page.on('response', (response) => {
      if (response.status() >= 400 && !/\.cgi/.test(response.url())) {
        page.problems.push(response.status() + ' ' + response.url());
      }
    });
    page.on('request', (request) => {
      if (/\.cgi/.test(request.url())) {
        page.bodies.push({ method: request.method(), path: new URL(request.url()).pathname, body: request.postData() || '' });
      }
    });
    return page;
  }

  // The pages' login, set for the tab before its first page loads.
  async loggedInPage(options) {
    const page = await this.newPage(options);
    await page.addInitScript(() => sessionStorage.setItem('ktr.login', 'yes'));
    return page;
  }

  // An endpoint read from the test itself, to compare the page with.
  async endpoint(pathAndDay) {
    const response = await fetch(this.base + pathAndDay, { cache: 'no-store' });
    const text = await response.text();
    return { status: response.status, text, json: text ? JSON.parse(text) : null };
  }

  async post(pathName, body) {
    const response = await fetch(this.base + pathName, {
      method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body,
    });
    return { status: response.status, text: await response.text() };
  }
}

module.exports = { KtrStack };
