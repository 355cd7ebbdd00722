// Filter of the engine's HTML log: a click on a level in the count table shows
// only that level's rows; a second click on the same level shows all rows again.
var shownLevel = null;

function showLevel(tableId, level) {
  var table = document.getElementById(tableId);
  if (!table) return false;
  shownLevel = (shownLevel === level) ? null : level;
  var rows = table.getElementsByTagName('tr');
  for (var i = 0; i < rows.length; i++) {
    var visible = shownLevel === null || rows[i].className === shownLevel;
    rows[i].style.display = visible ? '' : 'none';
  }
  var links = document.querySelectorAll('#logcount a');
  for (var j = 0; j < links.length; j++) {
    var selected = shownLevel !== null &&
        links[j].getAttribute('onclick').indexOf("'" + shownLevel + "'") >= 0;
    links[j].className = selected ? 'selected' : '';
  }
  // Keeps the link's "#" from scrolling the page to the top.
  return false;
}
