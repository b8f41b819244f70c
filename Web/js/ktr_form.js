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
// Field description:
//   key      the key of the read reply and, unless `write` is given, of the write
//   write    the write key where it differs ("dt" for "date", ...)
//   label    caption; hint: short help; unit: shown after the input
//   kind     'word' (0-65535, the default), 'signed' (-32768-32767, read back
//            from 16 bits), 'date', 'time' or 'select' (with options)
//   options  for 'select': [[value, caption], ...]; a value outside the list
//            is shown as its own entry rather than hidden
//   same     (sent, reported, reply) -> true when the read back counts as the
//            value, false when it does not, null when the reply cannot show it
'use strict';

var Ktr = window.Ktr || {};
window.Ktr = Ktr;

Ktr.SettingsForm = (function () {
  const { el, icon, notice } = Ktr.page;
  const F = Ktr.fields;

  const kinds = {
    word: { type: 'number', check: F.word, fromReply: (v) => String(v), json: 'number' },
    signed: {
      type: 'number',
      check: (t) => F.integer(t, -32768, 32767),
      fromReply: (v) => String(F.signed16(v)),
      json: 'number',
    },
    select: { check: F.word, fromReply: (v) => String(v), json: 'number' },
    date: { type: 'text', check: F.isoDate, fromReply: (v) => v, json: 'string', placeholder: 'YYYY-MM-DD' },
    time: { type: 'text', check: F.hhmmss, fromReply: (v) => v, json: 'string', placeholder: 'HH:MM:SS' },
  };

  function SettingsForm(root, def) {
    this.root = root;
    this.def = def;
    this.fields = [];
    this.loaded = {};
    this.busy = false;
    this.build();
  }

  SettingsForm.prototype.kindOf = function (field) {
    return kinds[field.kind || 'word'];
  };

  // What a reply must hold: every field's key with its JSON type.
  SettingsForm.prototype.check = function (data) {
    if (!data || typeof data !== 'object' || Array.isArray(data)) return 'not an object';
    for (const field of this.fields) {
      const want = this.kindOf(field).json;
      if (typeof data[field.key] !== want) return '"' + field.key + '" missing or not a ' + want;
      if (want === 'number' && !(Number.isInteger(data[field.key]) && data[field.key] >= 0)) {
        return '"' + field.key + '" is no register value';
      }
    }
    return '';
  };

  SettingsForm.prototype.buildField = function (field) {
    const kind = this.kindOf(field);
    const id = 'f-' + field.key;
    let input;
    if (field.kind === 'select') {
      input = el('select', { id, name: field.key });
      for (const [value, caption] of field.options) {
        input.appendChild(el('option', { value: String(value), text: caption }));
      }
    } else {
      input = el('input', {
        id, name: field.key, type: 'text', autocomplete: 'off', spellcheck: 'false',
        inputmode: kind.type === 'number' ? (field.kind === 'signed' ? 'text' : 'numeric') : 'text',
        placeholder: kind.placeholder,
      });
    }
    input.setAttribute('aria-describedby', id + '-error' + (field.hint ? ' ' + id + '-hint' : ''));
    const error = el('small', { class: 'error', id: id + '-error' });
    const mark = el('span', { class: 'mark', 'aria-hidden': 'true' }, icon('check'));
    const box = el('div', { class: 'field', 'data-key': field.key },
      el('label', { for: id }, el('span', { text: field.label }), ' ', el('code', { text: field.write || field.key })),
      el('div', { class: 'control' }, input, field.unit ? el('span', { class: 'unit', text: field.unit }) : null, mark),
      field.hint ? el('small', { class: 'hint', id: id + '-hint', text: field.hint }) : null,
      error);
    const entry = { field, input, error, box };
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
      const set = el('fieldset', { class: 'group' }, el('legend', {}, icon(group.icon || 'gear'), ' ' + group.title));
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
      icon('save'), ' Save changes');
    this.undoButton = el('button', { type: 'button', class: 'secondary', id: 'undo', disabled: true,
      onclick: () => this.undo() }, 'Undo changes');
    this.reloadButton = el('button', { type: 'button', class: 'secondary', id: 'reload',
      onclick: () => this.load() }, icon('refresh'), ' Read again');
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

  SettingsForm.prototype.dirtyEntries = function () {
    return this.entries.filter((e) => e.field.key in this.loaded && e.input.value.trim() !== this.loaded[e.field.key]);
  };

  SettingsForm.prototype.touch = function (entry) {
    entry.box.classList.remove('saved', 'mismatch');
    const dirty = entry.field.key in this.loaded && entry.input.value.trim() !== this.loaded[entry.field.key];
    entry.box.classList.toggle('dirty', dirty);
    if (dirty) {
      const result = this.kindOf(entry.field).check(entry.input.value);
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
      input.appendChild(el('option', { value: text, text: 'code ' + text, 'data-extra': 'yes' }));
    }
    input.value = text;
  };

  SettingsForm.prototype.fill = function (data) {
    this.loaded = {};
    for (const entry of this.entries) {
      const text = this.kindOf(entry.field).fromReply(data[entry.field.key]);
      this.loaded[entry.field.key] = text;
      this.setValue(entry, text);
      entry.box.classList.remove('dirty', 'invalid');
      this.showError(entry, '');
    }
    this.form.classList.remove('stale');
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
    notice(this.status, 'busy', 'Reading from the device…');
    const reply = await this.read();
    if (!reply.ok) {
      this.clear();
      this.setBusy(false);
      notice(this.status, 'error', reply.message, { label: 'Try again', run: () => this.load() });
      return false;
    }
    this.fill(reply.data);
    notice(this.status, 'info', 'Read from the device at ' + Ktr.api.clock(new Date()) + '.');
    return true;
  };

  SettingsForm.prototype.undo = function () {
    for (const entry of this.dirtyEntries()) {
      this.setValue(entry, this.loaded[entry.field.key]);
      this.touch(entry);
    }
  };

  SettingsForm.prototype.save = async function () {
    const dirty = this.dirtyEntries();
    if (dirty.length === 0) {
      notice(this.status, 'info', 'Nothing has changed.');
      return false;
    }
    const items = [];
    let firstBad = null;
    for (const entry of dirty) {
      const result = this.kindOf(entry.field).check(entry.input.value);
      this.showError(entry, result.ok ? '' : result.error);
      if (!result.ok && !firstBad) firstBad = entry;
      if (result.ok) items.push({ entry, value: result.value });
    }
    if (firstBad) {
      notice(this.status, 'error', 'Please correct the marked values; nothing was sent.');
      firstBad.input.focus();
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
      notice(this.status, 'busy', 'Saving ' + field.label + ' (' + (i + 1) + ' of ' + items.length + ')…');
      const reply = await Ktr.api.postAnswer('/setdata.cgi', F.body([[key, value]]));
      if (!reply.ok) {
        failure = { entry: item.entry, reply };
        break;
      }
      sent.push({ entry: item.entry, value });
    }

    notice(this.status, 'busy', 'Reading back from the device…');
    const back = await this.read();
    if (!back.ok) {
      this.clear();
      this.setBusy(false);
      const first = failure ? 'Not saved: ' + failure.entry.field.label + '. ' + failure.reply.message
        : 'Sent ' + sent.length + ' change(s), but the read back failed: ' + back.message;
      notice(this.status, 'error', first, { label: 'Read again', run: () => this.load() });
      return false;
    }
    // Keep the inputs that were not sent as the user left them.
    const pending = this.dirtyEntries()
      .filter((e) => !sent.some((s) => s.entry === e))
      .map((e) => [e, e.input.value]);
    this.fill(back.data);
    for (const [entry, text] of pending) {
      this.setValue(entry, text);
      this.touch(entry);
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
        unreported.push(entry.field.label);
        continue;
      }
      entry.box.classList.add(same ? 'saved' : 'mismatch');
      if (!same) {
        this.showError(entry, 'Sent ' + value + ', the device reports ' + reported + '.');
        refused.push(entry.field.label);
      }
    }
    this.setBusy(false);
    if (failure) {
      notice(this.status, 'error', 'Not saved: ' + failure.entry.field.label + '. ' + failure.reply.message);
      return false;
    }
    if (refused.length) {
      notice(this.status, 'error', 'The device did not take: ' + refused.join(', ') + '.');
      return false;
    }
    const checked = last.filter((s) => !unreported.includes(s.entry.field.label));
    notice(this.status, 'ok',
      (checked.length ? 'Saved and read back: ' + checked.map((s) => s.entry.field.label).join(', ') + '.' : '') +
      (unreported.length ? ' Sent, but not reported back by the device: ' + unreported.join(', ') + '.' : ''));
    return true;
  };

  return SettingsForm;
})();
