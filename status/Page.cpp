#include "status/Page.h"

namespace tarvo::status {

const char* const kPageHtml = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tarvo station</title>
<link rel="stylesheet" href="/style.css">
<script src="/app.js" defer></script>
</head>
<body>
<header>
  <h1 id="station">Tarvo</h1>
  <div id="link" class="link down">connecting</div>
</header>
<section id="summary">
  <div class="box"><span class="label" data-t="runs">Runs</span><span id="runs" class="value">0</span></div>
  <div class="box pass"><span class="label">PASS</span><span id="pass" class="value">0</span></div>
  <div class="box fail"><span class="label">FAIL</span><span id="fail" class="value">0</span></div>
  <div class="box error"><span class="label">ERROR</span><span id="error" class="value">0</span></div>
  <div class="box"><span class="label" data-t="uph">Units per hour</span><span id="uph" class="value">0</span></div>
</section>
<section id="facts">
  <div><span class="label" data-t="image">Image</span> <span id="image"></span> <code id="hash"></code> <span id="approval"></span></div>
  <div><span class="label" data-t="record">Record</span> <span id="record"></span></div>
  <div><span class="label" data-t="line">Line database</span> <span id="line"></span></div>
</section>
<table id="ports">
  <thead><tr>
    <th data-t="port">Port</th><th data-t="state">State</th><th data-t="message">Message</th>
    <th data-t="progress">Progress</th><th data-t="unit">Unit</th>
    <th>PASS</th><th>FAIL</th><th>ERROR</th>
  </tr></thead>
  <tbody id="rows"></tbody>
</table>
<h2 data-t="recent">Last records</h2>
<table id="records">
  <thead><tr>
    <th data-t="ended">Ended</th><th data-t="port">Port</th><th data-t="result">Result</th>
    <th data-t="unit">Unit</th><th data-t="message">Message</th>
  </tr></thead>
  <tbody id="recent"></tbody>
</table>
</body>
</html>
)PAGE";

const char* const kPageScript = R"PAGE('use strict';
// The station page: the state from /api/status, then live changes from /events. Every text
// goes in through textContent, never as markup.
(function () {
  const WORDS = {
    en: {
      connecting: 'connecting', live: 'live', offline: 'connection lost, retrying',
      runs: 'Runs', uph: 'Units per hour', image: 'Image', record: 'Record', line: 'Line database',
      port: 'Port', state: 'State', message: 'Message', progress: 'Progress', unit: 'Unit',
      recent: 'Last records', ended: 'Ended', result: 'Result',
      approved: 'approved', notApproved: 'NOT APPROVED', approvalOff: 'approval not checked',
      recordOk: 'written', recordOff: 'off', off: 'not used', waiting: 'waiting', setAside: 'set aside',
      working: 'up to date'
    },
    ko: {
      connecting: '연결 중', live: '실시간', offline: '연결 끊김, 다시 연결 중',
      runs: '작업', uph: '시간당 수량', image: '이미지', record: '기록', line: '라인 데이터베이스',
      port: '포트', state: '상태', message: '메시지', progress: '진행', unit: '제품',
      recent: '최근 기록', ended: '종료', result: '결과',
      approved: '승인됨', notApproved: '승인 안 됨', approvalOff: '승인 확인 안 함',
      recordOk: '기록 중', recordOff: '꺼짐', off: '사용 안 함', waiting: '대기', setAside: '보류',
      working: '최신'
    }
  };
  // The window's colours of a row for each report (the row logic's).
  const BLACK = '#010101', GREEN = '#00ff00', RED = '#ff0000';
  let words = WORDS.en;
  const rows = new Map();
  let refreshTimer = null;

  function $(id) { return document.getElementById(id); }
  function cell(row, text, cls) {
    const td = document.createElement('td');
    if (cls) td.className = cls;
    if (text !== undefined) td.textContent = String(text);
    row.appendChild(td);
    return td;
  }
  function colour(el, pair) {
    if (!pair) return;
    el.style.color = pair[0];
    el.style.backgroundColor = pair[1];
  }
  function translate() {
    document.querySelectorAll('[data-t]').forEach(function (el) {
      const key = el.getAttribute('data-t');
      if (words[key]) el.textContent = words[key];
    });
  }

  function portRow(port) {
    let row = rows.get(port);
    if (row) return row;
    const tr = document.createElement('tr');
    tr.id = 'port-' + port;
    const name = cell(tr, undefined, 'name');
    const com = document.createElement('div');
    com.textContent = 'COM' + port;
    const where = document.createElement('div');
    where.className = 'where';
    name.appendChild(com);
    name.appendChild(where);
    const state = cell(tr, '', 'state');
    const text = cell(tr, '', 'text');
    const bar = cell(tr, undefined, 'bar');
    const track = document.createElement('div');
    track.className = 'track';
    const fill = document.createElement('div');
    fill.className = 'fill';
    track.appendChild(fill);
    const percent = document.createElement('span');
    percent.className = 'percent';
    bar.appendChild(track);
    bar.appendChild(percent);
    row = { tr: tr, where: where, state: state, text: text, fill: fill, percent: percent,
            unit: cell(tr, '', 'unit'), pass: cell(tr, '0', 'count pass'),
            fail: cell(tr, '0', 'count fail'), error: cell(tr, '0', 'count error') };
    // Labels the narrow layout shows beside the values (it has no table header).
    row.unit.setAttribute('data-label', words.unit);
    row.pass.setAttribute('data-label', 'PASS');
    row.fail.setAttribute('data-label', 'FAIL');
    row.error.setAttribute('data-label', 'ERROR');
    rows.set(port, row);
    const body = $('rows');
    const after = Array.from(rows.keys()).filter(function (p) { return p > port; }).sort(function (a, b) { return a - b; });
    body.insertBefore(tr, after.length ? rows.get(after[0]).tr : null);
    return row;
  }
  function setProgress(row, percent) {
    const p = Math.max(0, Math.min(100, Number(percent) || 0));
    row.fill.style.width = p + '%';
    row.percent.textContent = p + ' %';
  }
  function setState(row, word, pair) {
    row.state.textContent = word;
    row.tr.setAttribute('data-state', word);
    colour(row.state, pair);
  }

  function showStatus(s) {
    words = String(s.language || '').toLowerCase().indexOf('ko') === 0 ? WORDS.ko : WORDS.en;
    document.documentElement.lang = words === WORDS.ko ? 'ko' : 'en';
    translate();
    $('link').textContent = words.live;
    $('station').textContent = s.station;
    document.title = 'Tarvo ' + s.station;
    $('runs').textContent = s.totals.runs;
    $('pass').textContent = s.totals.pass;
    $('fail').textContent = s.totals.fail;
    $('error').textContent = s.totals.error;
    $('uph').textContent = s.units_per_hour;
    const path = String(s.image.path || '');
    $('image').textContent = path.split('/').pop();
    $('image').title = path;
    $('hash').textContent = s.image.sha256 ? String(s.image.sha256).slice(0, 12) : '';
    $('hash').title = s.image.sha256 || '';
    const approval = $('approval');
    approval.textContent = s.image.approved === true ? words.approved
      : s.image.approved === false ? words.notApproved : words.approvalOff;
    approval.className = s.image.approved === false ? 'bad' : s.image.approved === true ? 'good' : 'muted';
    showFacts(s);
    s.ports.forEach(showPort);
    const recent = $('recent');
    while (recent.firstChild) recent.removeChild(recent.firstChild);
    s.records.slice().reverse().forEach(addRecordRow);
  }

  // The record's and the line database's state.
  function showFacts(s) {
    const record = $('record');
    record.textContent = !s.record.enabled ? words.recordOff : s.record.problem ? s.record.problem : words.recordOk;
    record.className = s.record.problem ? 'bad' : 'good';
    const line = $('line');
    const f = s.forward;
    if (!f.enabled) {
      line.textContent = words.off;
      line.className = 'muted';
    } else {
      let t = f.pending > 0 ? f.pending + ' ' + words.waiting : words.working;
      if (f.set_aside > 0) t += ', ' + f.set_aside + ' ' + words.setAside;
      if (f.problem) t += ' — ' + f.problem;
      line.textContent = t;
      line.className = f.problem ? 'bad' : 'good';
    }
  }

  function showPort(p) {
    const row = portRow(p.port);
    row.where.textContent = p.location ? 'USB ' + p.location : p.device;
    row.where.title = p.device;
    setState(row, p.state, p.colors.state);
    row.text.textContent = p.text;
    row.text.title = p.reason || '';
    colour(row.text, p.colors.text);
    setProgress(row, p.progress);
    row.unit.textContent = p.unit === null ? '' : p.unit;
    row.pass.textContent = p.pass;
    row.fail.textContent = p.fail;
    row.error.textContent = p.error;
  }

  function addRecordRow(r) {
    const tr = document.createElement('tr');
    tr.className = 'result-' + String(r.result || '').replace(/[^A-Z]/g, '');
    cell(tr, r.ended_at ? String(r.ended_at).replace('T', ' ').replace('Z', '') : '');
    cell(tr, 'COM' + r.port);
    cell(tr, r.result);
    cell(tr, r.unit === null ? '' : r.unit);
    cell(tr, r.reason ? r.text + ' (' + r.reason + ')' : (r.text === null ? '' : r.text));
    const recent = $('recent');
    recent.insertBefore(tr, recent.firstChild);
    while (recent.childNodes.length > 20) recent.removeChild(recent.lastChild);
  }

  function onReport(r) {
    const row = portRow(r.port);
    if ('status' in r) {
      if (r.status === 0) {
        setState(row, 'ERASE', [BLACK, GREEN]);
        row.text.textContent = 'Erasing...';
      } else if (r.status === 1) {
        row.text.textContent = r.text;
      } else if (r.status === 20) {
        setState(row, 'COMPLETE', [BLACK, GREEN]);
        row.text.textContent = r.text;
        colour(row.text, [BLACK, GREEN]);
      } else {
        setState(row, 'ERROR', [BLACK, RED]);
        row.text.textContent = r.text;
      }
      row.text.title = r.reason || '';
    } else if ('progress' in r) {
      setState(row, 'DOWNLOAD', [BLACK, GREEN]);
      row.text.textContent = 'Downloading : ' + r.progress + ' %';
      setProgress(row, r.progress);
    } else if ('end' in r) {
      refreshSoon();
    }
  }

  function bump(el) { el.textContent = String((Number(el.textContent) || 0) + 1); }
  // A finished record: its row's counts and the totals at once (the station may end right
  // after its last record), the rest from the station.
  function onRecord(r) {
    addRecordRow(r);
    const row = portRow(r.port);
    bump($('runs'));
    if (r.result === 'PASS') { bump(row.pass); bump($('pass')); bump($('uph')); }
    else if (r.result === 'FAIL') { bump(row.fail); bump($('fail')); }
    else if (r.result === 'ERROR' || r.result === 'NO TARGET') { bump(row.error); bump($('error')); }
    if (r.unit !== null && r.unit !== undefined) row.unit.textContent = r.unit;
    refreshSoon();
  }

  // Counts, totals and the exact colours come from the station after a run ends.
  function refreshSoon() {
    if (refreshTimer !== null) return;
    refreshTimer = setTimeout(function () {
      refreshTimer = null;
      fetch('/api/status', { cache: 'no-store' }).then(function (res) { return res.json(); })
        .then(showStatus).catch(function () {});
    }, 300);
  }

  function connect() {
    const events = new EventSource('/events');
    const link = $('link');
    events.addEventListener('status', function (e) {
      link.className = 'link up';
      showStatus(JSON.parse(e.data));
    });
    events.addEventListener('report', function (e) { onReport(JSON.parse(e.data)); });
    events.addEventListener('record', function (e) { onRecord(JSON.parse(e.data)); });
    events.addEventListener('port', function (e) { showPort(JSON.parse(e.data)); });
    events.addEventListener('station', function (e) { showFacts(JSON.parse(e.data)); });
    events.onerror = function () {
      link.textContent = words.offline;
      link.className = 'link down';
    };
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', connect);
  else connect();
})();
)PAGE";

const char* const kPageStyle = R"PAGE(:root { color-scheme: dark; }
* { box-sizing: border-box; }
body { margin: 0; padding: 0.75rem; background: #101010; color: #e8e8e8;
       font: 16px/1.35 system-ui, sans-serif; }
header { display: flex; align-items: center; justify-content: space-between; gap: 1rem; }
h1 { margin: 0; font-size: 1.6rem; overflow-wrap: anywhere; }
h2 { font-size: 1.1rem; margin: 1.2rem 0 0.4rem; }
.link { padding: 0.2rem 0.6rem; border-radius: 0.3rem; font-size: 0.9rem; }
.link.up { background: #00ff00; color: #010101; }
.link.down { background: #ffff00; color: #010101; }
#summary { display: grid; grid-template-columns: repeat(5, 1fr); gap: 0.5rem; margin: 0.75rem 0; }
.box { background: #1e1e1e; border-radius: 0.4rem; padding: 0.4rem 0.6rem; display: flex; flex-direction: column; }
.box .value { font-size: 1.8rem; font-weight: 700; }
.box.pass .value { color: #00ff00; } .box.fail .value, .box.error .value { color: #ff4040; }
.label { color: #a0a0a0; font-size: 0.85rem; }
#facts { display: flex; flex-wrap: wrap; gap: 0.4rem 1.5rem; margin-bottom: 0.75rem; overflow-wrap: anywhere; }
.good { color: #00ff00; } .bad { color: #ff4040; font-weight: 700; } .muted { color: #a0a0a0; }
table { width: 100%; border-collapse: collapse; }
th { text-align: left; color: #a0a0a0; font-weight: 400; font-size: 0.85rem; padding: 0.2rem 0.4rem; }
td { padding: 0.35rem 0.4rem; border-top: 1px solid #2a2a2a; vertical-align: middle; overflow-wrap: anywhere; }
#ports td.state { font-weight: 700; text-align: center; white-space: nowrap; background: #dcdcdc; color: #ff0000; }
#ports td.text { background: #010101; color: #00ff00; }
.where { color: #a0a0a0; font-size: 0.8rem; }
td.bar { min-width: 8rem; }
.track { height: 0.8rem; background: #2a2a2a; border-radius: 0.4rem; overflow: hidden; }
.fill { height: 100%; width: 0; background: #00ff00; transition: width 0.2s linear; }
.percent { font-size: 0.8rem; color: #a0a0a0; }
td.count { text-align: right; font-variant-numeric: tabular-nums; }
#records td { font-size: 0.9rem; }
tr.result-PASS td:nth-child(3) { color: #00ff00; }
tr.result-FAIL td:nth-child(3), tr.result-ERROR td:nth-child(3), tr.result-NOTARGET td:nth-child(3) { color: #ff4040; }
/* A phone: the table becomes one card per port. */
@media (max-width: 40rem) {
  #summary { grid-template-columns: repeat(3, 1fr); }
  #ports thead, #records thead { display: none; }
  #ports tr { display: grid; grid-template-columns: 1fr 1fr 1fr; border-top: 1px solid #2a2a2a; padding: 0.3rem 0; }
  #ports td { border: 0; }
  #ports td.state { grid-column: 2 / -1; }
  #ports td.text, #ports td.bar, #ports td.unit { grid-column: 1 / -1; }
  #ports td.unit:empty { display: none; }
  #ports td.count { text-align: left; }
  #ports td.unit::before, #ports td.count::before { content: attr(data-label) " "; color: #a0a0a0; font-size: 0.8rem; }
  #records td:nth-child(5) { display: none; }
}
/* A wall monitor: larger everything. */
@media (min-width: 100rem) {
  body { font-size: 22px; }
  .box .value { font-size: 2.6rem; }
  .track { height: 1.2rem; }
}
)PAGE";

}  // namespace tarvo::status
