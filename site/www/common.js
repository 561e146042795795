// The pages talk to the Quilmer program through its message handler "quilmer" (a JSON text per
// message). Opened in an ordinary browser the handler is missing and forms and links work as usual.
var quilmer = (function () {
  function post(message) {
    try {
      window.webkit.messageHandlers.quilmer.postMessage(JSON.stringify(message));
      return true;
    } catch (e) {
      return false;
    }
  }
  function encode(value) { return encodeURIComponent(value).replace(/%20/g, '+'); }
  function formData(form) {
    var parts = [];
    for (var i = 0; i < form.elements.length; i++) {
      var el = form.elements[i];
      if (el.name && /^(text|hidden|search)$/.test(el.type)) parts.push(el.name + '=' + encode(el.value));
    }
    return parts.join('&');
  }
  function param(name) {
    var m = new RegExp('[?&]' + name + '=([^&]*)').exec(location.search);
    return m ? decodeURIComponent(m[1].replace(/\+/g, ' ')) : '';
  }
  function isTextInput(el) { return el && el.tagName === 'INPUT' && /^(text|search)$/.test(el.type); }
  // The program's context menu replaces the browser's on text inputs.
  document.addEventListener('contextmenu', function (e) {
    if (isTextInput(e.target)) {
      e.target.focus();
      e.target.select();
      if (post({ kind: 'contextmenu', name: e.target.name })) e.preventDefault();
    }
  });
  return {
    post: post,
    param: param,
    formData: formData,
    // A form submit goes to the program as form text; without the program it goes out as usual.
    submit: function (form) { return !post({ kind: 'form', action: form.action, data: formData(form) }); },
    // A link whose target the program opens in its browser window ("hid=" form text).
    open: function (address) { return !post({ kind: 'form', action: location.href, data: 'hid=' + encode(address) }); },
    focusedValue: function () { var el = document.activeElement; return isTextInput(el) ? el.value : ''; },
    setFocused: function (text, submitForm) {
      var el = document.activeElement;
      if (!isTextInput(el)) return false;
      el.value = text;
      if (submitForm && el.form) {
        if (el.form.onsubmit ? el.form.onsubmit() !== false : true) el.form.submit();
      }
      return true;
    }
  };
})();
function fillParams() {
  var els = document.querySelectorAll('[data-param]');
  for (var i = 0; i < els.length; i++) els[i].textContent = quilmer.param(els[i].getAttribute('data-param'));
}
document.addEventListener('DOMContentLoaded', fillParams);
