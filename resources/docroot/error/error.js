// Shows the error kind and code the program put into the page's query; text only, never markup.
(function () {
  var q = new URLSearchParams(window.location.search);
  var value = q.get("value") || "";
  var code = q.get("code") || "";
  var detail = document.getElementById("detail");
  if (detail) detail.textContent = value + (code ? " [" + code + "]" : "");
  if (q.get("justafterupdate") === "true") {
    var note = document.getElementById("afterupdate");
    if (note) note.hidden = false;
  }
})();
