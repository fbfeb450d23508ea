// Test page: asks native code for a greeting as soon as it loads and offers
// functions that native code calls.
var pageCalls = [];
// What native code gave the page before this script ran.
var startupSeenByScript = JSON.stringify(window.startupForTest);

function showCall(text, number) {
  pageCalls.push([text, number]);
  document.getElementById('called').textContent = text + ' / ' + number;
  return 'page got ' + text;
}

function showPosted(count) {
  document.getElementById('posted').textContent = String(count);
}

function failOnPurpose() {
  throw new Error('thrown by the page');
}

window.addEventListener('DOMContentLoaded', function () {
  xcall('greet', 'page', 2).then(function (reply) {
    document.getElementById('answer').textContent = reply;
  }, function (error) {
    document.getElementById('answer').textContent = 'error: ' + error.message;
  });
});
