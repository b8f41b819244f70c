// Polling for the browser tests: conditions that become true as requests
// come back. The limits are generous "does not hang" bounds, never speed
// checks.
'use strict';

const kDefaultMs = 15000;

// Calls fn until it returns without throwing; rethrows its last error when
// the time is up.
async function eventually(fn, timeoutMs = kDefaultMs, stepMs = 50) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    try {
      return await fn();
    } catch (error) {
      if (Date.now() > deadline) throw error;
    }
    await new Promise((r) => setTimeout(r, stepMs));
  }
}

// Text of the notice in a container once it is no longer the "busy" one.
async function settledNotice(page, selector, timeoutMs = kDefaultMs) {
  const box = page.locator(selector + ' .notice:not(.busy)');
  await box.waitFor({ timeout: timeoutMs });
  return { kind: (await box.getAttribute('class')).replace('notice', '').trim(), text: await box.innerText() };
}

module.exports = { eventually, settledNotice };
