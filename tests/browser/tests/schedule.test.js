// Weekly schedule page: each day tab shows its own endpoint, and every row
// goes out as one /set_sched_data.cgi request with day, idx and all values
// of the row, and comes back through the read endpoint.
'use strict';

const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { KtrStack } = require('../support/ktr_stack');

// The page's own requests, without the device bar's (the device in use, its checks).
const own = (page) => page.bodies.filter((b) => b.path !== '/find_all.cgi' && b.path !== '/get_config_status.cgi');

async function openDay(stack, day) {
  const page = await stack.loggedInPage();
  await page.goto('/schedule.html#' + day);
  await dayRead(page);
  return page;
}

async function dayRead(page) {
  await page.locator('#day-notice .notice.info', { hasText: 'read from the device' }).waitFor();
}

async function outcome(page) {
  const box = page.locator('#day-notice .notice.ok, #day-notice .notice.error');
  await box.waitFor();
  return { ok: (await box.getAttribute('class')).includes('ok'), text: await box.innerText() };
}

const writes = (page) => page.bodies.filter((b) => b.method === 'POST').map((b) => b.body);
const row = (table, idx) => '#' + table + ' tr[data-idx="' + idx + '"] ';

async function fillRow(page, table, idx, values) {
  for (const [name, value] of Object.entries(values)) await page.fill(row(table, idx) + 'input[name="' + name + '"]', value);
}

async function shownRow(page, table, idx) {
  return page.locator(row(table, idx) + 'input').evaluateAll((inputs) =>
    Object.fromEntries(inputs.map((i) => [i.name, i.value])));
}

describe('weekly schedule page', () => {
  let stack;
  before(async () => {
    stack = await new KtrStack().start();
  });
  after(async () => {
    await stack.stop();
  });

  it('shows every plan and length entry and the switch of the day', async () => {
    const page = await openDay(stack, 'mon');
    const data = (await stack.endpoint('/get_sched_data.cgi&mon')).json;
    for (let i = 0; i < 20; ++i) {
      const e = data.plan[i];
      assert.deepEqual(await shownRow(page, 'plan', i),
        { status: String(e.status), time: e.time === '00:60' ? '' : e.time, len: String(e.len) }, 'plan ' + i);
    }
    for (let j = 0; j < 5; ++j) {
      const e = data.cfg[j];
      assert.deepEqual(await shownRow(page, 'lengths', j),
        { ws: String(e.len_ws), bb: String(e.len_bb), eb: String(e.len_eb) }, 'length ' + j);
    }
    assert.equal(await page.isChecked('#ena'), data.ena !== 0);
    // The simulator's Monday: enabled, first entry 07:55.
    assert.equal(data.ena, 1);
    assert.equal(await page.inputValue(row('plan', 0) + 'input[name="time"]'), '07:55');
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  it('reads each day from its own path', async () => {
    const page = await openDay(stack, 'sun');
    for (const day of ['mon', 'tue', 'wed', 'thu', 'fri', 'sat']) {
      await page.click('#tab-' + day);
      await dayRead(page);
      assert.equal(await page.getAttribute('#tab-' + day, 'aria-selected'), 'true');
    }
    assert.deepEqual(own(page).map((b) => b.path), ['sun', 'mon', 'tue', 'wed', 'thu', 'fri', 'sat']
      .map((d) => '/get_sched_data.cgi&' + d));
    await page.close();
  });

  it('round-trips a plan entry with a time', async () => {
    const page = await openDay(stack, 'mon');
    await fillRow(page, 'plan', 12, { status: '1', time: '6:45', len: '4' });
    await page.click(row('plan', 12) + '.save-row');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=mon&idx=12&tp_status=1&tp_time=06:45&tp_len=4']);
    const data = (await stack.endpoint('/get_sched_data.cgi&mon')).json;
    assert.deepEqual(data.plan[12], { status: 1, time: '06:45', len: 4 });
    assert.match(await page.getAttribute(row('plan', 12).trim(), 'class'), /\bsaved\b/);

    await page.reload();
    await dayRead(page);
    assert.deepEqual(await shownRow(page, 'plan', 12), { status: '1', time: '06:45', len: '4' });
    await page.close();
  });

  it('an entry with status 0 comes back as time 00:00 and length 1, and that is no error', async () => {
    const page = await openDay(stack, 'tue');
    await fillRow(page, 'plan', 0, { status: '0', time: '09:00', len: '7' });
    await page.click(row('plan', 0) + '.save-row');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=tue&idx=0&tp_status=0&tp_time=09:00&tp_len=7']);
    assert.deepEqual((await stack.endpoint('/get_sched_data.cgi&tue')).json.plan[0], { status: 0, time: '00:00', len: 1 });
    assert.deepEqual(await shownRow(page, 'plan', 0), { status: '0', time: '00:00', len: '1' });
    await page.close();
  });

  it('an empty time is sent empty and shown empty again', async () => {
    const page = await openDay(stack, 'wed');
    await fillRow(page, 'plan', 1, { status: '1', time: '', len: '3' });
    await page.click(row('plan', 1) + '.save-row');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=wed&idx=1&tp_status=1&tp_time=&tp_len=3']);
    assert.deepEqual((await stack.endpoint('/get_sched_data.cgi&wed')).json.plan[1], { status: 1, time: '00:60', len: 3 });
    assert.equal(await page.inputValue(row('plan', 1) + 'input[name="time"]'), '');
    await page.close();
  });

  it('a length entry is sent with its three values', async () => {
    const page = await openDay(stack, 'thu');
    await fillRow(page, 'lengths', 4, { ws: '30', bb: '10', eb: '20' });
    await page.click(row('lengths', 4) + '.save-row');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=thu&idx=4&s_len_ws=30&s_len_bb=10&s_len_eb=20']);
    assert.deepEqual((await stack.endpoint('/get_sched_data.cgi&thu')).json.cfg[4], { len_bb: 10, len_eb: 20, len_ws: 30 });
    await page.close();
  });

  it('the day switch writes ena', async () => {
    const page = await openDay(stack, 'sun');
    assert.equal(await page.isChecked('#ena'), false);
    await page.check('#ena');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=sun&ena=1']);
    assert.equal((await stack.endpoint('/get_sched_data.cgi&sun')).json.ena, 1);
    assert.equal(await page.isChecked('#ena'), true);
    await page.close();
  });

  it('"Save all" sends each changed row on its own', async () => {
    const page = await openDay(stack, 'fri');
    await fillRow(page, 'plan', 15, { status: '2', time: '13:05', len: '2' });
    await fillRow(page, 'lengths', 3, { ws: '1', bb: '2', eb: '3' });
    await page.click('#save-all');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), [
      'day=fri&idx=15&tp_status=2&tp_time=13:05&tp_len=2',
      'day=fri&idx=3&s_len_ws=1&s_len_bb=2&s_len_eb=3',
    ]);
    const data = (await stack.endpoint('/get_sched_data.cgi&fri')).json;
    assert.deepEqual(data.plan[15], { status: 2, time: '13:05', len: 2 });
    assert.deepEqual(data.cfg[3], { len_bb: 2, len_eb: 3, len_ws: 1 });
    await page.close();
  });

  const kBadRows = [
    [{ time: '7:3' }, 'Row 3, time: Use the layout HH:MM.'],
    [{ time: '24:00' }, 'Row 3, time: The hour runs from 00 to 23.'],
    [{ time: '12:60' }, 'Row 3, time: The minute runs from 00 to 59.'],
    [{ time: '12%3A30' }, 'Row 3, time: Use the layout HH:MM.'],
    [{ len: '65536' }, 'Row 3, length: Allowed: 0 to 65535.'],
    [{ status: '' }, 'Row 3, status: Enter a number.'],
  ];
  for (const [values, error] of kBadRows) {
    it('refuses the row ' + JSON.stringify(values) + ' without sending it', async () => {
      const page = await openDay(stack, 'sat');
      await fillRow(page, 'plan', 2, values);
      await page.click('#save-all');
      await page.locator('#day-notice .notice.error', { hasText: 'nothing was sent' }).waitFor();
      assert.equal(await page.textContent('#plan .error-row:not([hidden]) td'), error);
      assert.deepEqual(writes(page), []);
      await page.close();
    });
  }

  it('asks before a day switch drops unsaved rows', async () => {
    const page = await openDay(stack, 'mon');
    await fillRow(page, 'plan', 19, { status: '1' });
    await page.click('#tab-tue');
    await page.click('#confirm-cancel');
    assert.equal(await page.getAttribute('#tab-mon', 'aria-selected'), 'true');
    assert.equal(await page.inputValue(row('plan', 19) + 'input[name="status"]'), '1');
    await page.click('#tab-tue');
    await page.click('#confirm-ok');
    await dayRead(page);
    assert.equal(await page.getAttribute('#tab-tue', 'aria-selected'), 'true');
    assert.deepEqual(writes(page), []);
    await page.close();
  });
  it('Enter in a row saves that row', async () => {
    const page = await openDay(stack, 'sat');
    await fillRow(page, 'plan', 5, { status: '1', time: '10:10', len: '2' });
    await page.press(row('plan', 5) + 'input[name="len"]', 'Enter');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.deepEqual(writes(page), ['day=sat&idx=5&tp_status=1&tp_time=10:10&tp_len=2']);
    await page.close();
  });

  it('warns of entries out of time order and of equal times', async () => {
    const page = await openDay(stack, 'sun');  // no entry in use
    await fillRow(page, 'plan', 6, { status: '1', time: '09:00', len: '1' });
    await fillRow(page, 'plan', 7, { status: '1', time: '08:00', len: '1' });
    assert.match(await page.textContent('#order-warning'), /Row 8 \(08:00\) is earlier than row 7 \(09:00\) above it\./);
    await fillRow(page, 'plan', 7, { time: '09:00' });
    assert.match(await page.textContent('#order-warning'), /Rows 7 and 8 have the same time 09:00\./);
    await fillRow(page, 'plan', 7, { time: '09:30' });
    assert.equal(await page.textContent('#order-warning'), '');
    await page.close();
  });

  it('the week overview shows the times in use of every day', async () => {
    const page = await openDay(stack, 'mon');
    await page.click('#week summary');
    await page.locator('#week-grid').waitFor();
    const week = {};
    for (const d of ['sun', 'mon', 'tue', 'wed', 'thu', 'fri', 'sat']) week[d] = (await stack.endpoint('/get_sched_data.cgi&' + d)).json;
    const columns = await page.locator('#week-grid').evaluate((t) => [...t.tHead.rows[0].cells].map((_, i) =>
      [...t.tBodies[0].rows].map((r) => r.cells[i].textContent).filter((x) => x !== '')));
    const expected = Object.values(week).map((d) => {
      const times = d.plan.filter((e) => e.status !== 0).map((e) => (e.time === '00:60' ? '(no time)' : e.time));
      return times.length ? times : ['—'];
    });
    assert.deepEqual(columns, expected);
    assert.deepEqual(writes(page), []);
    await page.close();
  });

  // Last in this file: it overwrites Tuesday and Wednesday.
  it('copies a day to the chosen days, writing only the entries that differ, and reads them back', async () => {
    assert.equal((await stack.post('/set_sched_data.cgi', 'day=mon&idx=3&tp_status=1&tp_time=09:15&tp_len=6')).status, 200);
    const read = async (d) => (await stack.endpoint('/get_sched_data.cgi&' + d)).json;
    const mon = await read('mon');
    const differing = (d) => Number(d.ena !== mon.ena) +
      d.plan.filter((e, i) => JSON.stringify(e) !== JSON.stringify(mon.plan[i])).length +
      d.cfg.filter((e, i) => JSON.stringify(e) !== JSON.stringify(mon.cfg[i])).length;
    const expected = { tue: differing(await read('tue')), wed: differing(await read('wed')) };
    assert.ok(expected.tue > 0 && expected.wed > 0);

    const page = await openDay(stack, 'mon');
    await page.click('#copy-day');
    await page.click('#copy-weekdays');
    const checked = await page.locator('#copy-dialog input:checked').evaluateAll((i) => i.map((e) => e.value));
    assert.deepEqual(checked, ['tue', 'wed', 'thu', 'fri']);
    await page.uncheck('#copy-thu');
    await page.uncheck('#copy-fri');
    await page.click('#copy-ok');
    const result = await outcome(page);
    assert.ok(result.ok, result.text);
    assert.equal(result.text, 'Copied Monday. Tuesday: ' + expected.tue + ' written, read back. Wednesday: ' +
      expected.wed + ' written, read back.');
    const sent = writes(page);
    assert.equal(sent.filter((b) => b.startsWith('day=tue&')).length, expected.tue);
    assert.equal(sent.filter((b) => b.startsWith('day=wed&')).length, expected.wed);
    assert.equal(sent.length, expected.tue + expected.wed);
    // Each target was read before and after its writes.
    const reads = own(page).filter((b) => b.method === 'GET').map((b) => b.path);
    assert.deepEqual(reads.slice(1), ['tue', 'tue', 'wed', 'wed'].map((d) => '/get_sched_data.cgi&' + d));
    for (const d of ['tue', 'wed']) assert.deepEqual(await read(d), mon, d);
    await page.close();
  });
});
