function cellValue(text){
  var t=text.trim(), m=/^(-?\d+):(-?\d+)$/.exec(t);
  if(m) return [0, parseInt(m[1],10)*60+(m[1][0]=='-'?-1:1)*Math.abs(parseInt(m[2],10))];
  if(t!=='' && !isNaN(Number(t))) return [0, Number(t)];
  return [1, t.toLowerCase()];
}
function sortBy(th){
  var table=th.closest('table'), body=table.tBodies[0], col=th.cellIndex;
  var down=th.dataset.dir!=='up';
  Array.prototype.forEach.call(table.tHead.rows[0].cells,function(c){delete c.dataset.dir;});
  th.dataset.dir=down?'up':'down';
  var rows=Array.prototype.slice.call(body.rows).map(function(r,i){return [cellValue(r.cells[col].textContent),i,r];});
  rows.sort(function(a,b){
    var x=a[0],y=b[0],s=(x[0]-y[0])||(x[1]<y[1]?-1:x[1]>y[1]?1:0);
    return (down?s:-s)||(a[1]-b[1]);
  });
  rows.forEach(function(r){body.appendChild(r[2]);});
}
document.addEventListener('DOMContentLoaded',function(){
  var count=0;
  document.querySelectorAll('table.sortable').forEach(function(t){
    t.tHead.rows[0].querySelectorAll('th').forEach(function(th){th.addEventListener('click',function(){sortBy(th);});});
    count+=t.tBodies[0].rows.length;
  });
  document.body.dataset.rows=count;
  document.body.dataset.blocks=document.querySelectorAll('.chart svg g.block').length;
  document.body.dataset.ok='1';
});
