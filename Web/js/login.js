// Login page: sends "login_pssw:" followed by the password to /login.cgi,
// which answers {"answer":"yes"} or {"answer":"no"}, and on "yes" opens the
// settings page that asked for the login (or the time page).
//
// The password goes out as it was typed, without any escaping: the
// configurator searches the raw body for the login text and does no
// percent-decoding. Its parameter text ends after 199 characters, so a
// longer password could never match and is refused here.
'use strict';

(function () {
  if (!Ktr.page.ready) return;
  const { notice } = Ktr.page;

  const kPrefix = 'login_pssw:';
  const kMaxPassword = 199 - kPrefix.length;

  const form = document.getElementById('login-form');
  const input = document.getElementById('password');
  const error = document.getElementById('password-error');
  const button = document.getElementById('login');

  const next = Ktr.page.settingsPage(new URLSearchParams(location.search).get('next') || '') || 'time.html';

  if (Ktr.page.loggedIn()) {
    notice('notice', 'info', 'You are logged in already.', { label: 'Open the settings', run: () => location.assign(next) });
  }

  function problem(password) {
    if (password === '') return 'Enter the password.';
    if (password.length > kMaxPassword) return 'The password can have at most ' + kMaxPassword + ' characters.';
    if (/[\u0000-\u001f\u007f]/.test(password)) return 'The password cannot hold control characters.';
    return '';
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const password = input.value;
    const bad = problem(password);
    error.textContent = bad;
    input.setAttribute('aria-invalid', bad ? 'true' : 'false');
    if (bad) {
      input.focus();
      return;
    }
    button.disabled = true;
    notice('notice', 'busy', 'Checking the password…');
    const reply = await Ktr.api.postAnswer('/login.cgi', kPrefix + password, { noIsAnswer: true });
    button.disabled = false;
    if (!reply.ok) {
      notice('notice', 'error', reply.message);
      return;
    }
    if (reply.data.answer !== 'yes') {
      notice('notice', 'error', 'Wrong password.');
      input.select();
      input.focus();
      return;
    }
    Ktr.page.setLoggedIn(true);
    notice('notice', 'ok', 'Logged in.');
    location.assign(next);
  });

  input.focus();
})();
