'use strict';
// A classic script, so it runs where the page's modules cannot: a browser refuses modules on a
// file:// address, and the page would say "Loading the tool…" for good.
if (location.protocol === 'file:') {
  document.getElementById('state').textContent =
    'The tool could not be started. Open this page through a web server (for example ' +
    'python3 -m http.server in its folder), not as a local file.';
}
