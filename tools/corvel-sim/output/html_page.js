const graphs = [];
let syncing = false;
function follow(source) {
  if (syncing) return;
  syncing = true;
  const range = source.xAxisRange();
  for (const g of graphs) if (g !== source) g.updateOptions({dateWindow: range});
  syncing = false;
}
// The range of each stretch, drawn as one band per unbroken run of points:
// the library's own draws a shape per point, which takes seconds for each
// panel of 40 000 ranges.
function bandPlotter(e) {
  const ctx = e.drawingContext, area = e.plotArea;
  ctx.save();
  ctx.globalAlpha = e.dygraph.getNumericOption('fillAlpha', e.setName);
  ctx.fillStyle = e.color;
  let run = [];
  const flush = function () {
    if (run.length > 1) {
      ctx.beginPath();
      ctx.moveTo(run[0].canvasx, area.h * run[0].y_top + area.y);
      for (const p of run) ctx.lineTo(p.canvasx, area.h * p.y_top + area.y);
      for (let k = run.length - 1; k >= 0; --k) ctx.lineTo(run[k].canvasx, area.h * run[k].y_bottom + area.y);
      ctx.closePath();
      ctx.fill();
    }
    run = [];
  };
  for (const p of e.points) {
    if (p.y === null || p.y === undefined || isNaN(p.y) || isNaN(p.y_top) || isNaN(p.y_bottom)) {
      flush();
    } else {
      run.push(p);
    }
  }
  flush();
  ctx.restore();
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
    plotter: [bandPlotter, Dygraph.Plotters.linePlotter],
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
