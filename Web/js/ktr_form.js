// A settings form bound to one read endpoint and /setdata.cgi.
//
// The form is filled from the read endpoint. "Save changes" validates every
// changed input, then sends each change as its own /setdata.cgi request
// (the endpoint takes only the first field of a body), one after the other,
// stops at the first failure, and reads the endpoint again. The configurator
// answers {"answer":"yes"} even when the device refused a write, so the read
// back is what tells whether a value took: each saved input is compared with
// what the device now reports and marked saved or not.
//
// A save that fails, or whose read back fails, keeps what was typed, marked
// "Not saved", with Retry. A value the device reports differently keeps the
// value sent and offers Retry and "Use device value". While the device does
// not answer, the values last read stay on show greyed out and locked, and
// the form reads again every few seconds: it unlocks by itself once a read
// succeeds, still holding what was typed.
//
// Field description:
//   key      the key of the read reply and, unless `write` is given, of the write
//   write    the write key where it differs ("dt" for "date", ...)
//   label    the plain name; the key is shown after it in small type
//   hint     short help; unit: shown after the input
//   kind     'word' (0-65535, the default), 'signed' (-32768-32767, read back
//            from 16 bits), 'date', 'time' or 'select' (with options)
//   code     a number whose meaning the device does not give: shown as a
//            code with its range, never with a made-up meaning
// Every number shows its allowed range under the input.
// Group description: title, icon, note, help (the part of the help page
// that its "?" opens) and fields.
//   options  for 'select': [[value, caption], ...]; a value outside the list
//            is shown as its own entry rather than hidden
//   range    [min, max] for a number narrower than its register
//   same     (sent, reported, reply) -> true when the read back counts as the
//            value, false when it does not, null when the reply cannot show it
//   unreported  why the reply cannot show it, for the notice (may change)
// and of the whole form: readPath, groups, confirmSend(items) (see save).
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.SettingsForm = (function () {
  const { el, icon, notice } = Ktr.page;
  const F = Ktr.fields;
  const t = Ktr.t;

  const kinds = {
    word: { type: 'number', check: F.word, fromReply: (v) => String(v), json: 'number' },
    signed: {
      type: 'number',
      check: (t) => F.integer(t, -32768, 32767),
      fromReply: (v) => String(F.signed16(v)),
      json: 'number',
    },
    select: { check: F.word, fromReply: (v) => String(v), json: 'number' },
    date: { type: 'text', check: F.isoDate, fromReply: (v) => v, json: 'string', placeholder: 'YYYY-MM-DD',
      inputmode: 'numeric' },
    time: { type: 'text', check: F.hhmmss, fromReply: (v) => v, json: 'string', placeholder: 'HH:MM:SS',
      inputmode: 'numeric' },
  };

  // While the device does not answer, the form reads again this often.
  const kRecoverMs = 3000;

  function SettingsForm(root, def) {
    this.root = root;
    this.def = def;
    this.fields = [];
    this.loaded = {};
    this.busy = false;
    this.lastRead = '';
    this.recoverTimer = 0;
    this.build();
    Ktr.page.guardUnsaved(() => this.dirtyEntries().length > 0);
    // The device bar's checks: a device that stopped answering (or a switch
    // to another device) shows the values as old at once, not at the next save.
    if (Ktr.device) {
      Ktr.device.onProblem((reply) => {
        if (this.busy || this.form.classList.contains('stale') || !Object.keys(this.loaded).length) return;
        this.readFailed(reply.message, [], { label: t('common.tryAgain'), run: () => this.load() }, reply.detail);
      });
    }
  }

  SettingsForm.prototype.kindOf = function (field) {
    return kinds[field.kind || 'word'];
  };

  SettingsForm.prototype.checkValue = function (field, text) {
    if (field.range) return F.integer(text, field.range[0], field.range[1]);
    return this.kindOf(field).check(text);
  };

  // What a reply must hold: every field's key with its JSON type.
  SettingsForm.prototype.check = function (data) {
    if (!data || typeof data !== 'object' || Array.isArray(data)) return t('api.shape', { keys: '{ }' });
    for (const field of this.fields) {
      const want = this.kindOf(field).json;
      if (typeof data[field.key] !== want) return t('api.shape', { keys: field.key + ' (' + want + ')' });
      if (want === 'number' && !(Number.isInteger(data[field.key]) && data[field.key] >= 0)) {
        return t('api.shape', { keys: field.key + ' (0-65535)' });
      }
    }
    return '';
  };

  // The allowed range of a number field, or null.
  SettingsForm.prototype.rangeOf = function (field) {
    if (field.range) return field.range;
    if (field.kind === 'signed') return [-32768, 32767];
    if (!field.kind || field.kind === 'word') return [0, 65535];
    return null;
  };

  SettingsForm.prototype.buildField = function (field) {
    const kind = this.kindOf(field);
    const id = 'f-' + field.key;
    const range = this.rangeOf(field);
    const rangeText = range ? t(field.code ? 'form.code' : 'form.range', { min: range[0], max: range[1] }) : '';
    const hintText = [rangeText, field.hint || ''].filter(Boolean).join('. ');
    let input;
    if (field.kind === 'select') {
      input = el('select', { id, name: field.key });
      for (const [value, caption] of field.options) {
        input.appendChild(el('option', { value: String(value), text: caption }));
      }
    } else {
      input = el('input', {
        id, name: field.key, type: 'text', autocomplete: 'off', spellcheck: 'false',
        // Numbers bring up the numeric keypad; a signed one needs the minus
        // sign, which the decimal keypad of most phones has.
        inputmode: kind.inputmode || (kind.type === 'number' ? (field.kind === 'signed' ? 'decimal' : 'numeric') : 'text'),
        placeholder: kind.placeholder,
      });
    }
    input.setAttribute('aria-describedby', id + '-error' + (hintText ? ' ' + id + '-hint' : ''));
    const error = el('small', { class: 'error', id: id + '-error' });
    const state = el('small', { class: 'state', id: id + '-state' });
    const mark = el('span', { class: 'mark', 'aria-hidden': 'true' }, icon('check'));
    const box = el('div', { class: 'field', 'data-key': field.key },
      el('label', { for: id }, el('span', { text: field.label }), ' ',
        el('code', { class: 'key', text: field.write || field.key, translate: 'no' })),
      el('div', { class: 'control' }, input, field.unit ? el('span', { class: 'unit', text: field.unit }) : null, mark),
      hintText ? el('small', { class: 'hint', id: id + '-hint', text: hintText }) : null,
      error, state);
    const entry = { field, input, error, state, box };
    input.addEventListener('input', () => this.touch(entry));
    input.addEventListener('change', () => this.touch(entry));
    this.fields.push(field);
    return entry;
  };

  SettingsForm.prototype.build = function () {
    const def = this.def;
    this.entries = [];
    const form = el('form', { class: 'settings', novalidate: true });
    for (const group of def.groups) {
      const set = el('fieldset', { class: 'group' }, el('legend', {}, icon(group.icon || 'gear'), ' ' + group.title,
        group.help ? Ktr.page.helpLink(group.help, group.title) : null));
      if (group.note) set.appendChild(el('p', { class: 'note', text: group.note }));
      const grid = el('div', { class: 'grid' });
      for (const field of group.fields) {
        const entry = this.buildField(field);
        this.entries.push(entry);
        grid.appendChild(entry.box);
      }
      set.appendChild(grid);
      form.appendChild(set);
    }
    this.saveButton = el('button', { type: 'submit', class: 'primary', id: 'save', disabled: true },
      icon('save'), ' ' + t('form.save'));
    this.undoButton = el('button', { type: 'button', class: 'secondary', id: 'undo', disabled: true,
      onclick: () => this.undo() }, t('form.undo'));
    this.reloadButton = el('button', { type: 'button', class: 'secondary', id: 'reload',
      onclick: () => this.load() }, icon('refresh'), ' ' + t('form.reload'));
    const extra = def.extraButtons ? def.extraButtons(this) : [];
    this.status = el('div', { class: 'form-status', id: 'form-status', 'aria-live': 'polite' });
    form.appendChild(el('div', { class: 'actions' }, this.saveButton, this.undoButton, this.reloadButton, ...extra));
    form.appendChild(this.status);
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.save();
    });
    this.form = form;
    this.root.appendChild(form);
  };

  SettingsForm.prototype.entryFor = function (key) {
    return this.entries.find((e) => e.field.key === key || e.field.write === key);
  };

  SettingsForm.prototype.isDirty = function (e) {
    return e.field.key in this.loaded && e.input.value.trim() !== this.loaded[e.field.key];
  };

  SettingsForm.prototype.dirtyEntries = function () {
    return this.entries.filter((e) => this.isDirty(e));
  };

  // The state line under an input: '' (none), 'unsaved' ("Not saved"), or
  // 'mismatch' (sent, the device reports otherwise: Retry, Use device value).
  SettingsForm.prototype.markState = function (entry, kind, text) {
    entry.box.classList.toggle('unsaved', kind === 'unsaved');
    entry.state.replaceChildren();
    if (kind === 'unsaved') entry.state.textContent = t('form.notSaved');
    if (kind === 'mismatch') {
      entry.state.append(text + ' ',
        el('button', { type: 'button', class: 'link retry', text: t('common.retry'),
          onclick: () => this.retry([entry]) }),
        ' ',
        el('button', { type: 'button', class: 'link use-device', text: t('common.useDevice'),
          onclick: () => {
            this.setValue(entry, this.loaded[entry.field.key]);
            this.markState(entry, '');
            this.touch(entry);
          } }));
    }
  };

  SettingsForm.prototype.touch = function (entry) {
    entry.box.classList.remove('saved', 'mismatch');
    if (!(entry.box.classList.contains('unsaved') && this.isDirty(entry))) this.markState(entry, '');
    const dirty = entry.field.key in this.loaded && entry.input.value.trim() !== this.loaded[entry.field.key];
    entry.box.classList.toggle('dirty', dirty);
    if (dirty) {
      const result = this.checkValue(entry.field, entry.input.value);
      this.showError(entry, result.ok ? '' : result.error);
    } else {
      this.showError(entry, '');
    }
    const any = this.dirtyEntries().length > 0;
    this.saveButton.disabled = this.busy || !any;
    this.undoButton.disabled = this.busy || !any;
  };

  SettingsForm.prototype.showError = function (entry, text) {
    entry.error.textContent = text;
    entry.box.classList.toggle('invalid', Boolean(text));
    entry.input.setAttribute('aria-invalid', text ? 'true' : 'false');
  };

  // A select shows a code outside its list as an entry of its own.
  SettingsForm.prototype.setValue = function (entry, text) {
    const input = entry.input;
    if (input.tagName === 'SELECT' && ![...input.options].some((o) => o.value === text)) {
      input.appendChild(el('option', { value: text, text: t('form.otherCode', { code: text }), 'data-extra': 'yes' }));
    }
    input.value = text;
  };

  SettingsForm.prototype.fill = function (data) {
    this.loaded = {};
    for (const entry of this.entries) {
      const text = this.kindOf(entry.field).fromReply(data[entry.field.key]);
      this.loaded[entry.field.key] = text;
      this.setValue(entry, text);
      entry.box.classList.remove('dirty', 'invalid', 'mismatch');
      this.showError(entry, '');
      this.markState(entry, '');
    }
    this.form.classList.remove('stale');
    this.lastRead = Ktr.api.clock(new Date());
    this.stopRecovery();
    this.setBusy(false);
    if (this.def.afterFill) this.def.afterFill(data, this);
  };

  // A failed read leaves no old values on show: the inputs are emptied and
  // locked until a read succeeds.
  SettingsForm.prototype.clear = function () {
    this.loaded = {};
    for (const entry of this.entries) {
      if (entry.input.tagName === 'SELECT') {
        for (const extra of entry.input.querySelectorAll('option[data-extra]')) extra.remove();
        entry.input.selectedIndex = -1;
      } else {
        entry.input.value = '';
      }
      entry.box.classList.remove('dirty', 'invalid', 'saved', 'mismatch');
      this.showError(entry, '');
      this.markState(entry, '');
    }
    this.form.classList.add('stale');
    for (const set of this.form.querySelectorAll('fieldset')) set.disabled = true;
    this.saveButton.disabled = true;
    this.undoButton.disabled = true;
  };

  SettingsForm.prototype.setBusy = function (busy) {
    this.busy = busy;
    const locked = busy || this.form.classList.contains('stale');
    for (const set of this.form.querySelectorAll('fieldset')) set.disabled = locked;
    this.reloadButton.disabled = busy;
    for (const b of this.form.querySelectorAll('.actions .extra')) b.disabled = locked;
    const any = !busy && this.dirtyEntries().length > 0;
    this.saveButton.disabled = !any;
    this.undoButton.disabled = !any;
  };

  SettingsForm.prototype.read = async function () {
    return Ktr.api.getJson(this.def.readPath, (data) => this.check(data));
  };

  SettingsForm.prototype.load = async function () {
    this.setBusy(true);
    notice(this.status, 'busy', t('form.reading'));
    const reply = await this.read();
    if (!reply.ok) {
      this.readFailed(reply.message, [], { label: t('common.tryAgain'), run: () => this.load() }, reply.detail);
      return false;
    }
    const pending = this.fillKeeping(reply.data, []);
    this.readNotice(pending);
    return true;
  };

  // Fills the form from a reply and puts back what was typed and not yet
  // saved (the dirty inputs and `also`), marked "Not saved". Returns them.
  SettingsForm.prototype.fillKeeping = function (data, also) {
    const kept = this.entries.filter((e) => this.isDirty(e) || also.includes(e)).map((e) => [e, e.input.value]);
    this.fill(data);
    for (const [entry, text] of kept) {
      this.setValue(entry, text);
      this.touch(entry);
      if (this.isDirty(entry)) this.markState(entry, 'unsaved');
    }
    return kept.map(([entry]) => entry).filter((e) => this.isDirty(e));
  };

  SettingsForm.prototype.readNotice = function (pending) {
    const read = t('form.read', { time: this.lastRead });
    if (!pending.length) {
      notice(this.status, 'info', read);
    } else {
      notice(this.status, 'info', read + ' ' + t('form.pending', { names: pending.map((e) => e.field.label).join(', ') }),
        { label: t('common.retrySave'), run: () => this.save() });
    }
  };

  // A read that failed: the values last read stay on show, greyed out and
  // locked (none at all when nothing was ever read), what was typed is kept
  // as "Not saved", and the form reads again by itself until the device
  // answers.
  SettingsForm.prototype.readFailed = function (text, unconfirmed, action, detail) {
    if (!Object.keys(this.loaded).length) {
      this.clear();
    } else {
      for (const entry of this.entries) {
        if (this.isDirty(entry) || unconfirmed.includes(entry)) this.markState(entry, 'unsaved');
      }
      this.form.classList.add('stale');
    }
    this.setBusy(false);
    const shown = this.lastRead ? ' ' + t('form.lastRead', { time: this.lastRead }) : '';
    notice(this.status, 'error', text + shown, action, detail);
    this.startRecovery();
  };

  SettingsForm.prototype.startRecovery = function () {
    if (this.recoverTimer) return;
    this.recoverTimer = setTimeout(() => this.recover(), kRecoverMs);
  };

  SettingsForm.prototype.stopRecovery = function () {
    if (this.recoverTimer) clearTimeout(this.recoverTimer);
    this.recoverTimer = 0;
  };

  SettingsForm.prototype.recover = async function () {
    this.recoverTimer = 0;
    if (this.busy || !this.form.classList.contains('stale')) return;
    if (document.hidden) {
      this.startRecovery();
      return;
    }
    const reply = await this.read();
    if (this.busy) return;
    if (!reply.ok) {
      this.startRecovery();
      return;
    }
    this.readNotice(this.fillKeeping(reply.data, []));
  };

  SettingsForm.prototype.undo = function () {
    for (const entry of this.dirtyEntries()) {
      this.setValue(entry, this.loaded[entry.field.key]);
      this.markState(entry, '');
      this.touch(entry);
    }
    notice(this.status, '', '');
  };

  // Sends the given inputs again as they stand.
  SettingsForm.prototype.retry = function (list) {
    const items = [];
    for (const entry of list) {
      const result = this.checkValue(entry.field, entry.input.value);
      if (!result.ok) {
        this.showError(entry, result.error);
        entry.input.focus();
        return Promise.resolve(false);
      }
      items.push({ entry, value: result.value });
    }
    return this.send(items);
  };

  SettingsForm.prototype.save = async function () {
    const dirty = this.dirtyEntries();
    if (dirty.length === 0) {
      notice(this.status, 'info', t('form.nothingChanged'));
      return false;
    }
    const items = [];
    let firstBad = null;
    for (const entry of dirty) {
      const result = this.checkValue(entry.field, entry.input.value);
      this.showError(entry, result.ok ? '' : result.error);
      if (!result.ok && !firstBad) firstBad = entry;
      if (result.ok) items.push({ entry, value: result.value });
    }
    if (firstBad) {
      notice(this.status, 'error', t('form.correct'));
      firstBad.input.focus();
      return false;
    }
    // A page may ask before some values are sent (def.confirmSend(items)
    // resolves false: nothing is sent).
    if (this.def.confirmSend && !(await this.def.confirmSend(items))) {
      notice(this.status, 'info', t('bus.nothingSent'));
      return false;
    }
    return this.send(items);
  };

  // Sends items [{ entry, value, when }] in order, one /setdata.cgi request
  // each; value may be a function, evaluated right before its request (the
  // computer's clock); an item with when() false is skipped. Then reads back
  // and compares.
  SettingsForm.prototype.send = async function (items) {
    this.setBusy(true);
    const sent = [];
    let failure = null;
    for (let i = 0; i < items.length; ++i) {
      const item = items[i];
      if (item.when && !item.when(sent)) continue;
      const field = item.entry.field;
      const key = field.write || field.key;
      const value = typeof item.value === 'function' ? item.value() : item.value;
      notice(this.status, 'busy', t('form.saving', { name: field.label, i: i + 1, n: items.length }));
      const reply = await Ktr.api.postAnswer('/setdata.cgi', F.body([[key, value]]));
      if (!reply.ok) {
        failure = { entry: item.entry, reply };
        break;
      }
      sent.push({ entry: item.entry, value });
    }

    notice(this.status, 'busy', t('form.readingBack'));
    const back = await this.read();
    const retry = { label: t('common.retrySave'), run: () => this.save() };
    if (!back.ok) {
      // Nothing is confirmed: every input sent keeps its value, "Not saved".
      const first = failure ? t('form.notSavedName', { name: failure.entry.field.label }) + ' ' + failure.reply.message
        : t('form.readBackFailed', { n: sent.length }) + ' ' + back.message;
      this.readFailed(first, [], retry, (failure ? failure.reply : back).detail);
      return false;
    }
    // Keep the inputs that were not sent as the user left them.
    const sentEntries = sent.map((s) => s.entry);
    const pending = this.dirtyEntries()
      .filter((e) => !sentEntries.includes(e))
      .map((e) => [e, e.input.value]);
    this.fill(back.data);
    for (const [entry, text] of pending) {
      this.setValue(entry, text);
      this.touch(entry);
      if (this.isDirty(entry)) this.markState(entry, 'unsaved');
    }

    const refused = [];
    const unreported = [];
    // An input sent twice (the date around midnight) is checked by its last value.
    const last = sent.filter((s, i) => !sent.slice(i + 1).some((later) => later.entry === s.entry));
    for (const { entry, value } of last) {
      const reported = this.loaded[entry.field.key];
      // same() may answer null: the reply cannot show this value right now.
      const same = entry.field.same ? entry.field.same(value, reported, back.data) : value === reported;
      if (same === null) {
        unreported.push(entry);
        continue;
      }
      if (!same) {
        // The value sent stays in the input, so Retry needs no retyping.
        this.setValue(entry, value);
        this.touch(entry);
        this.showError(entry, t('form.mismatch', { sent: value, reported }));
        this.markState(entry, 'mismatch', t('form.kept', { reported }));
        refused.push(entry.field.label);
      }
      entry.box.classList.add(same ? 'saved' : 'mismatch');
    }
    this.setBusy(false);
    if (failure) {
      notice(this.status, 'error', t('form.notSavedName', { name: failure.entry.field.label }) + ' ' +
        failure.reply.message, retry, failure.reply.detail);
      return false;
    }
    if (refused.length) {
      notice(this.status, 'error', t('form.refused', { names: refused.join(', ') }));
      return false;
    }
    const checked = last.filter((s) => !unreported.includes(s.entry));
    const why = (e) => e.field.label + (e.field.unreported ? ' (' + e.field.unreported + ')' : '');
    const parts = [];
    if (checked.length) parts.push(t('form.saved', { names: checked.map((s) => s.entry.field.label).join(', ') }));
    if (unreported.length) parts.push(t('form.unreported', { names: unreported.map(why).join(', ') }));
    notice(this.status, 'ok', parts.join(' '));
    return true;
  };

  return SettingsForm;
})();
