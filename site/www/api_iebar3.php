<html><head><meta charset="utf-8"><title>Toolbar</title>
<style>
body { margin: 0; padding: 3px 4px; font: 12px sans-serif; background: #eef3fa; white-space: nowrap; overflow: hidden; }
form { display: inline; margin: 0; }
img.b { width: 24px; height: 24px; vertical-align: middle; cursor: pointer; border: 1px solid transparent; font-size: 9px; }
img.b[disabled] { opacity: 0.5; cursor: default; }
img.s { height: 20px; vertical-align: middle; cursor: pointer; font-size: 9px; }
input[type=text] { vertical-align: middle; font-size: 12px; }
#address { width: 44%; }
#q { width: 16%; }
</style>
<script>
// The Quilmer browser window reads this page's forms as form text through its message handler
// "quilmer"; buttons are sent by id. Opened in an ordinary browser, the forms work as usual.
var quilmer = (function () {
  function post(message) {
    try { window.webkit.messageHandlers.quilmer.postMessage(JSON.stringify(message)); return true; }
    catch (e) { return false; }
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
  function isTextInput(el) { return el && el.tagName === 'INPUT' && /^(text|search)$/.test(el.type); }
  document.addEventListener('contextmenu', function (e) {
    if (isTextInput(e.target)) {
      e.target.focus();
      e.target.select();
      if (post({ kind: 'contextmenu', name: e.target.name })) e.preventDefault();
    }
  });
  return {
    post: post,
    submit: function (form) { return !post({ kind: 'form', action: form.action, data: formData(form) }); },
    button: function (el) { if (!el.hasAttribute('disabled')) post({ kind: 'button', id: el.id }); return false; },
    site: function (name) {
      var f = document.getElementById('search_f');
      return !post({ kind: 'form', action: f.action, data: formData(f) + '&site=' + name });
    },
    download: function () { return !post({ kind: 'form', action: location.href, data: 'download_i=1' }); },
    focusedValue: function () { var el = document.activeElement; return isTextInput(el) ? el.value : ''; },
    setFocused: function (text, submitForm) {
      var el = document.activeElement;
      if (!isTextInput(el)) return false;
      el.value = text;
      if (submitForm && el.form && el.form.onsubmit() !== false) el.form.submit();
      return true;
    }
  };
})();
</script></head>
<body>
<img class="b" id="back_i" src="ico/back_gray.png" alt="Back" title="Back" disabled onclick="return quilmer.button(this)">
<img class="b" id="forward_i" src="ico/forward_gray.png" alt="Forward" title="Forward" disabled onclick="return quilmer.button(this)">
<img class="b" id="refresh_i" src="ico/refresh.png" alt="Refresh" title="Refresh" onclick="return quilmer.button(this)">
<img class="b" id="stop_i" src="ico/stop.png" alt="Stop" title="Stop" onclick="return quilmer.button(this)">
<form id="address_f" action="api_iebar3.php" method="post" onsubmit="return quilmer.submit(this)">
<input type="text" name="address" id="address" value=""><img class="b" id="go_i" src="ico/go.png" alt="Go" title="Go" onclick="document.getElementById('address_f').onsubmit() &amp;&amp; document.getElementById('address_f').submit()">
</form>
<form id="search_f" action="api_iebar3.php" method="post" onsubmit="return quilmer.submit(this)">
<input type="text" name="s" id="q" value=""><input type="hidden" name="type" value="flv">
</form>
<img class="s" id="youku_i" src="ico/youku.png" alt="youku" title="youku" onclick="return quilmer.site('youku')">
<img class="s" id="tudou_i" src="ico/tudou.png" alt="tudou" title="tudou" onclick="return quilmer.site('tudou')">
<img class="s" id="ku6_i" src="ico/ku6.png" alt="ku6" title="ku6" onclick="return quilmer.site('ku6')">
<img class="s" id="56_i" src="ico/56.png" alt="56" title="56" onclick="return quilmer.site('56')">
<img class="s" id="youtube_i" src="ico/youtube.png" alt="youtube" title="youtube" onclick="return quilmer.site('youtube')">
<img class="b" id="download_i" src="ico/download.png" alt="Download" title="Download" onclick="return quilmer.download()">
<script>
(function () {
  var m = /[?&]type=([^&]*)/.exec(location.search);
  if (m) document.querySelector('#search_f input[name=type]').value = decodeURIComponent(m[1]);
  // The window fills in the address, the search text and the button states.
  quilmer.post({ kind: 'ready' });
})();
</script>
</body></html>
