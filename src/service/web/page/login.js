'use strict';
// The reason the server sent us here, shown as text.
(function () {
  const reasons = {
    wrong: 'The password is not right.',
    slow: 'Too many failed logins: wait a minute, then try again.',
    code: 'That login link was used already or has expired: run "kestra3 ctl web" again.',
    none: 'No password is set: open the page with "kestra3 ctl web" on the machine of the switch.',
    out: 'You are logged out.',
  };
  const why = new URLSearchParams(location.search).get('why');
  const text = reasons[why] || '';
  const p = document.getElementById('login-message');
  p.textContent = text;
  p.hidden = !text;
})();
