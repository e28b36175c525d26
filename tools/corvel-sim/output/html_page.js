const graphs = [];
let syncing = false;
function follow(source) {
  if (syncing) return;
  syncing = true;
  const range = source.xAxisRange();
  for (const g of graphs) if (g !== source) g.updateOptions({dateWindow: range});
  syncing = false;
}
panels.forEach(function (panel, i) {
  // The legend above its chart, where it covers no trace.
  const holder = document.getElementById('panel' + i);
  const legend = document.createElement('div');
  legend.className = 'legend';
  holder.parentNode.insertBefore(legend, holder);
  const g = new Dygraph(holder, panel.rows, {
    labels: panel.labels,
    customBars: true,
    title: panel.name,
    xlabel: i === panels.length - 1 ? timeLabel : undefined,
    colors: panel.labels.length > 2 ? colours[0] : colours[1],
    valueRange: panel.range,
    legend: 'always',
    labelsDiv: legend,
    labelsSeparateLines: false,
    showRangeSelector: i === 0,
    strokeWidth: 1.2,
    axes: {y: {axisLabelWidth: 80}},  // room for 100000 and -0.00025
    underlayCallback: function (canvas, area, g) {
      const right = g.toDomXCoord(warmupEnd);
      if (right > area.x) {
        canvas.fillStyle = 'rgba(0, 0, 0, 0.06)';
        canvas.fillRect(area.x, area.y, Math.min(right, area.x + area.w) - area.x, area.h);
      }
      canvas.fillStyle = 'rgba(240, 150, 40, 0.25)';  // inputs that fill gaps in the record
      for (const span of panel.filled) {
        const left = g.toDomXCoord(span[0]);
        canvas.fillRect(left, area.y, Math.max(1, g.toDomXCoord(span[1]) - left), area.h);
      }
    },
    drawCallback: function (g, initial) { if (!initial) follow(g); },
  });
  graphs.push(g);
});
document.body.setAttribute('data-panels', String(graphs.length));
