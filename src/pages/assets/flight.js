// A flight's page: header figures, the plan view, the profiles and one time
// cursor through all of them, the landing panel and the commands to go
// further. Drawing keeps one point per screen pixel; the cursor and the
// readout use every record.
(() => {
  const F = K.data("flight-data");
  const S = K.data("samples-data");
  const n = S.t.length;
  const $ = (id) => document.getElementById(id);
  const has = (key) => Object.prototype.hasOwnProperty.call(F, key);
  const METRES_PER_DEG = 6371008.8 * Math.PI / 180;
  const GAP_S = 5;  // a longer step between records is a break in the recording

  // Phase colours: the Okabe-Ito palette, safe with red-green colour blindness.
  const PHASE_COLOURS = {
    "taxi out": "#999999", "takeoff roll": "#e69f00", climb: "#56b4e9", cruise: "#0072b2",
    descent: "#009e73", approach: "#d55e00", "landing roll": "#cc79a7", "taxi in": "#666666",
  };

  // ---- time ----
  // Seconds from the first record of a clock time "HH:MM:SS" of this flight.
  const tOfClock = (text) => (((K.secondsOf(text) - S.start) % 86400) + 86400) % 86400;
  // The record nearest to `t` seconds from the first.
  function indexAt(t) {
    let lo = 0, hi = n - 1;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (S.t[mid] < t) lo = mid + 1; else hi = mid;
    }
    return lo > 0 && t - S.t[lo - 1] < S.t[lo] - t ? lo - 1 : lo;
  }
  const indexOfClock = (text) => (text ? indexAt(tOfClock(text)) : null);

  // ---- values derived once per record ----
  const lat0 = (Math.min(...S.lat) + Math.max(...S.lat)) / 2 || 0;
  const lon0 = (Math.min(...S.lon) + Math.max(...S.lon)) / 2 || 0;
  const kx = Math.cos(lat0 * Math.PI / 180) * METRES_PER_DEG;
  const X = new Float64Array(n), Y = new Float64Array(n);
  for (let i = 0; i < n; i++) { X[i] = (S.lon[i] - lon0) * kx; Y[i] = (S.lat[i] - lat0) * METRES_PER_DEG; }
  // Vertical speed (ft/min) and ground speed (kt) over the records beside
  // each one, never across a break.
  const vs = new Float64Array(n), gs = new Float64Array(n);
  for (let i = 0; i < n; i++) {
    let a = i > 0 && S.t[i] - S.t[i - 1] <= GAP_S ? i - 1 : i;
    let b = i + 1 < n && S.t[i + 1] - S.t[i] <= GAP_S ? i + 1 : i;
    const dt = S.t[b] - S.t[a];
    vs[i] = dt > 0 ? Math.round((S.alt_ft[b] - S.alt_ft[a]) / dt * 60) : 0;
    gs[i] = dt > 0 ? Math.round(Math.hypot(X[b] - X[a], Y[b] - Y[a]) / dt * 3600 / 1852 * 10) / 10 : 0;
  }
  const touchdown = indexOfClock(F.landing);
  const liftoff = indexOfClock(F.takeoff);
  // The runway's level: where the aircraft touched down, else where it took off.
  const groundFt = touchdown !== null ? S.alt_ft[touchdown] : liftoff !== null ? S.alt_ft[liftoff] : null;

  const phases = (F.phases || []).map((p) => ({ name: p.phase, from: indexOfClock(p.time) }));
  phases.forEach((p, k) => { p.to = k + 1 < phases.length ? phases[k + 1].from : n - 1; });
  if (!phases.length || phases[0].from > 0) phases.unshift({ name: "", from: 0, to: phases.length ? phases[0].from : n - 1 });
  const colourOf = (name) => PHASE_COLOURS[name] || "#444444";

  // ---- header ----
  function header() {
    const list = $("figures");
    const finalLanding = Array.isArray(F.landings) ? F.landings.find((l) => l.kind === "final") : undefined;
    K.figure(list, "Date", "date", F.date);
    K.figure(list, "From", "departure", F.departure || null, null, F.takeoff_report && F.takeoff_report.runway ? `runway ${F.takeoff_report.runway}` : null);
    K.figure(list, "To", "arrival", F.arrival || null, null, finalLanding && finalLanding.runway ? `runway ${finalLanding.runway}` : null);
    K.figure(list, "Off-block", "off_block", F.off_block);
    K.figure(list, "Takeoff", "takeoff", F.takeoff);
    K.figure(list, "Landing", "landing", F.landing);
    K.figure(list, "On-block", "on_block", F.on_block);
    K.figure(list, "Air time", "air_time_s", F.air_time_s, "s", K.hoursMinutes(F.air_time_s));
    K.figure(list, "Block time", "block_time_s", F.block_time_s, "s", K.hoursMinutes(F.block_time_s));
    K.figure(list, "Distance", "distance_nm", F.distance_nm, "nm");
    K.figure(list, "Highest", "max_altitude_ft", F.max_altitude_ft, "ft");
    K.figure(list, "Fastest", "max_ias_kt", F.max_ias_kt, "kt");
    K.figure(list, "Touchdown rate", "touchdown_fpm", F.touchdown_fpm, "ft/min");
    K.figure(list, "Touch-and-goes", "touch_and_goes", F.touch_and_goes);
    if (!F.complete) K.figure(list, "Complete", "complete", F.complete, null, "the recording ends before the stop");
  }

  // ---- the cursor ----
  let cursor = touchdown !== null ? touchdown : 0;
  const listeners = [];
  function setCursor(i) {
    cursor = Math.max(0, Math.min(n - 1, i));
    for (const listener of listeners) listener(cursor);
  }

  function readout() {
    const list = $("readout");
    const fields = [
      ["Time", "time", (i) => K.clock(S.start + S.t[i])],
      ["Latitude", "lat", (i) => S.lat[i], "\u00b0"],
      ["Longitude", "lon", (i) => S.lon[i], "\u00b0"],
      ["Altitude", "alt_ft", (i) => S.alt_ft[i], "ft"],
      ["Above the runway", "height_ft", (i) => (groundFt === null ? null : Math.round(S.alt_ft[i] - groundFt)), "ft"],
      ["Airspeed", "ias_kt", (i) => S.ias_kt[i], "kt"],
      ["Ground speed", "gs_kt", (i) => gs[i], "kt"],
      ["Vertical speed", "vs_fpm", (i) => vs[i], "ft/min"],
      ["Pitch", "pitch_deg", (i) => S.pitch_deg[i], "\u00b0"],
      ["Bank", "bank_deg", (i) => S.bank_deg[i], "\u00b0"],
      ["Heading", "heading_deg", (i) => S.heading_deg[i], "\u00b0"],
    ];
    const cells = fields.map(([label, field, , unit]) => {
      const value = K.el("span", { "data-field": field });
      list.append(K.el("div", {}, K.el("dt", {}, label), K.el("dd", {}, value, unit ? K.el("span", { class: "unit" }, ` ${unit}`) : "")));
      return value;
    });
    listeners.push((i) => fields.forEach(([, , get], k) => { cells[k].textContent = n ? K.shown(get(i)) : "\u2014"; }));
  }

  // ---- plan view ----
  function planView() {
    const plan = $("plan");
    const view = { cx: 0, cy: 0, s: 1 };  // centre in metres east and north; pixels a metre
    let w = 0, h = 0;
    const layers = { track: K.svg("g"), marks: K.svg("g"), cursor: K.svg("g"), frame: K.svg("g") };
    plan.append(layers.track, layers.marks, layers.cursor, layers.frame);
    const px = (i) => [w / 2 + (X[i] - view.cx) * view.s, h / 2 - (Y[i] - view.cy) * view.s];

    function fit(from, to) {
      if (!n) return;
      let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity;
      for (let i = from; i <= to; i++) {
        x0 = Math.min(x0, X[i]); x1 = Math.max(x1, X[i]); y0 = Math.min(y0, Y[i]); y1 = Math.max(y1, Y[i]);
      }
      measure();
      view.cx = (x0 + x1) / 2; view.cy = (y0 + y1) / 2;
      view.s = Math.min(w / Math.max(x1 - x0, 200), h / Math.max(y1 - y0, 200)) * 0.9;
      draw();
    }
    function measure() {
      const box = plan.getBoundingClientRect();
      w = Math.max(box.width, 100); h = Math.max(box.height, 100);
      plan.setAttribute("viewBox", `0 0 ${w} ${h}`);
    }
    function zoom(factor, atX = w / 2, atY = h / 2) {
      // The point under the pointer stays where it is.
      const mx = view.cx + (atX - w / 2) / view.s, my = view.cy - (atY - h / 2) / view.s;
      view.s = Math.max(1e-4, Math.min(50, view.s * factor));
      view.cx = mx - (atX - w / 2) / view.s; view.cy = my + (atY - h / 2) / view.s;
      draw();
    }

    function draw() {
      plan.dataset.scale = view.s.toPrecision(6);
      plan.dataset.centre = `${view.cx.toFixed(1)},${view.cy.toFixed(1)}`;
      layers.track.replaceChildren(...runways(), ...phases.map(trackPath));
      layers.marks.replaceChildren(...markers());
      layers.frame.replaceChildren(...scaleBar(), ...northArrow());
      drawCursor(cursor);
    }

    // One path a phase, a point kept only when it moves a pixel from the last.
    function trackPath(phase) {
      let d = "", lastX = NaN, lastY = NaN;
      for (let i = phase.from; i <= phase.to; i++) {
        const [x, y] = px(i);
        const broken = i > phase.from && S.t[i] - S.t[i - 1] > GAP_S;
        if (i === phase.from || broken) { d += `M${x.toFixed(1)} ${y.toFixed(1)}`; lastX = x; lastY = y; continue; }
        if (Math.abs(x - lastX) < 1 && Math.abs(y - lastY) < 1 && i !== phase.to) continue;
        d += `L${x.toFixed(1)} ${y.toFixed(1)}`; lastX = x; lastY = y;
      }
      return K.svg("path", { d, fill: "none", stroke: colourOf(phase.name), "stroke-width": 2.5, "stroke-linejoin": "round" });
    }

    // Runways from the logbook when it has them: each with both ends'
    // positions and a width.
    function runways() {
      const out = [];
      for (const r of F.runways || []) {
        if (!r.ends || r.ends.length !== 2 || !r.width_m) continue;
        const p = r.ends.map((e) => [w / 2 + ((e.lon - lon0) * kx - view.cx) * view.s, h / 2 - ((e.lat - lat0) * METRES_PER_DEG - view.cy) * view.s]);
        const len = Math.hypot(p[1][0] - p[0][0], p[1][1] - p[0][1]) || 1;
        const nx = -(p[1][1] - p[0][1]) / len * r.width_m * view.s / 2, ny = (p[1][0] - p[0][0]) / len * r.width_m * view.s / 2;
        out.push(K.svg("polygon", { points: [[p[0][0] + nx, p[0][1] + ny], [p[1][0] + nx, p[1][1] + ny], [p[1][0] - nx, p[1][1] - ny], [p[0][0] - nx, p[0][1] - ny]].map((q) => q.join(",")).join(" "), fill: "#dddddd", stroke: "#555555" }));
        out.push(K.svg("line", { x1: p[0][0], y1: p[0][1], x2: p[1][0], y2: p[1][1], stroke: "#ffffff", "stroke-dasharray": "6 4" }));
        r.ends.forEach((e, k) => out.push(K.svg("text", { x: p[k][0], y: p[k][1], "text-anchor": "middle" }, e.ident || "")));
      }
      return out;
    }

    function markers() {
      const out = [];
      const mark = (i, shape, label) => {
        if (i === null || i === undefined) return;
        const [x, y] = px(i);
        const node = shape === "triangle"
          ? K.svg("polygon", { points: `${x},${y - 7} ${x - 6},${y + 5} ${x + 6},${y + 5}` })
          : shape === "diamond"
            ? K.svg("polygon", { points: `${x},${y - 7} ${x + 7},${y} ${x},${y + 7} ${x - 7},${y}` })
            : K.svg("circle", { cx: x, cy: y, r: 6 });
        node.setAttribute("fill", "#ffffff"); node.setAttribute("stroke", "#000000"); node.setAttribute("stroke-width", 2);
        out.push(node, K.svg("text", { x: x + 9, y: y + 4 }, label));
      };
      mark(liftoff, "triangle", "takeoff");
      if (Array.isArray(F.landings)) {
        for (const l of F.landings) mark(indexOfClock(l.time), "circle", l.kind === "final" ? "touchdown" : "touch-and-go");
      } else {
        mark(touchdown, "circle", "touchdown");
      }
      for (const g of F.go_arounds || []) mark(indexOfClock(g.time), "diamond", "go-around");
      return out;
    }

    function scaleBar() {
      const target = 120 / view.s;
      const steps = [1, 2, 5];
      let metres = 1;
      for (let e = 0; e < 8; e++) for (const k of steps) if (k * 10 ** e <= target) metres = k * 10 ** e;
      const len = metres * view.s;
      const label = metres >= 1000 ? `${metres / 1000} km (${(metres / 1852).toFixed(metres < 1852 ? 2 : 1)} nm)` : `${metres} m`;
      return [K.svg("rect", { x: 10, y: h - 26, width: len, height: 6, fill: "#000000" }),
        K.svg("rect", { x: 10 + len / 2, y: h - 25, width: len / 2 - 1, height: 4, fill: "#ffffff" }),
        K.svg("text", { x: 10, y: h - 32 }, label)];
    }
    const northArrow = () => [
      K.svg("polygon", { points: `${w - 20},${14} ${w - 27},${34} ${w - 20},${29} ${w - 13},${34}`, fill: "#000000" }),
      K.svg("text", { x: w - 20, y: 48, "text-anchor": "middle" }, "N")];

    function drawCursor(i) {
      if (!n) return;
      const [x, y] = px(i);
      const a = S.heading_deg[i] * Math.PI / 180;
      layers.cursor.replaceChildren(
        K.svg("line", { x1: x, y1: y, x2: x + 18 * Math.sin(a), y2: y - 18 * Math.cos(a), stroke: "#000000", "stroke-width": 2 }),
        K.svg("circle", { cx: x, cy: y, r: 5, fill: "#000000" }));
    }
    listeners.push(drawCursor);

    plan.addEventListener("wheel", (e) => {
      e.preventDefault();
      const box = plan.getBoundingClientRect();
      zoom(Math.exp(-e.deltaY * 0.0015), e.clientX - box.left, e.clientY - box.top);
    }, { passive: false });
    let drag = null;
    plan.addEventListener("pointerdown", (e) => { drag = { x: e.clientX, y: e.clientY }; plan.setPointerCapture(e.pointerId); });
    plan.addEventListener("pointermove", (e) => {
      if (!drag) return;
      view.cx -= (e.clientX - drag.x) / view.s; view.cy += (e.clientY - drag.y) / view.s;
      drag = { x: e.clientX, y: e.clientY };
      draw();
    });
    plan.addEventListener("pointerup", () => { drag = null; });
    plan.addEventListener("keydown", (e) => {
      if (e.key === "+" || e.key === "=") zoom(1.5);
      else if (e.key === "-") zoom(1 / 1.5);
      else return;
      e.preventDefault();
    });
    const fitFlight = () => fit(0, n - 1);
    const fitLanding = () => {
      const at = touchdown !== null ? touchdown : n - 1;
      fit(indexAt(S.t[at] - 90), indexAt(S.t[at] + 60));
    };
    $("fit-flight").addEventListener("click", fitFlight);
    $("fit-landing").addEventListener("click", fitLanding);
    $("fit-landing").disabled = touchdown === null;
    $("zoom-in").addEventListener("click", () => zoom(1.5));
    $("zoom-out").addEventListener("click", () => zoom(1 / 1.5));
    window.addEventListener("resize", () => { measure(); draw(); });
    window.addEventListener("beforeprint", fitFlight);
    $("legend").replaceChildren(...Object.entries(PHASE_COLOURS)
      .filter(([name]) => phases.some((p) => p.name === name))
      .map(([name, colour]) => K.el("li", {}, K.el("span", { style: `background:${colour}` }), name)));
    fitFlight();
  }

  // ---- profiles ----
  function profiles() {
    const box = $("profiles");
    const LEFT = 52, RIGHT = 8, AXIS = 18, GAP = 10;
    const panels = [
      { label: "Altitude ft", v: S.alt_ft, level: groundFt },
      { label: "Airspeed kt", v: S.ias_kt },
      { label: "Vertical speed ft/min", v: vs, level: 0 },
    ];
    let range = [0, Math.max(0, n - 1)];
    let w = 0, h = 0;
    const back = K.svg("g"), lines = K.svg("g"), cursorLine = K.svg("line", { stroke: "#000000", "stroke-width": 1.5 });
    const selection = K.svg("rect", { fill: "#0072b2", "fill-opacity": 0.15, height: 0, width: 0 });
    box.append(back, lines, cursorLine, selection);
    const tAt = (x) => S.t[range[0]] + (x - LEFT) / (w - LEFT - RIGHT) * Math.max(1, S.t[range[1]] - S.t[range[0]]);
    const xAt = (t) => LEFT + (t - S.t[range[0]]) / Math.max(1, S.t[range[1]] - S.t[range[0]]) * (w - LEFT - RIGHT);

    function draw() {
      const r = box.getBoundingClientRect();
      w = Math.max(r.width, 200); h = Math.max(r.height, 150);
      box.setAttribute("viewBox", `0 0 ${w} ${h}`);
      box.dataset.from = K.clock(S.start + S.t[range[0]]);
      box.dataset.to = K.clock(S.start + S.t[range[1]]);
      const ph = (h - AXIS - GAP * (panels.length - 1)) / panels.length;
      const backs = [], paths = [];
      panels.forEach((panel, k) => {
        const top = k * (ph + GAP);
        let lo = Infinity, hi = -Infinity;
        for (let i = range[0]; i <= range[1]; i++) { lo = Math.min(lo, panel.v[i]); hi = Math.max(hi, panel.v[i]); }
        if (panel.level !== undefined && panel.level !== null) { lo = Math.min(lo, panel.level); hi = Math.max(hi, panel.level); }
        if (!(hi > lo)) { hi = lo + 1; lo -= 1; }
        const pad = (hi - lo) * 0.08; lo -= pad; hi += pad;
        const y = (v) => top + ph - (v - lo) / (hi - lo) * ph;
        for (const p of phases) {
          if (p.to < range[0] || p.from > range[1]) continue;
          const x0 = xAt(S.t[Math.max(p.from, range[0])]), x1 = xAt(S.t[Math.min(p.to, range[1])]);
          backs.push(K.svg("rect", { x: x0, y: top, width: Math.max(0, x1 - x0), height: ph, fill: colourOf(p.name), "fill-opacity": 0.13 }));
          if (k === 0 && x1 - x0 > 60) backs.push(K.svg("text", { x: x0 + 3, y: top + 12 }, p.name));
        }
        backs.push(K.svg("rect", { x: LEFT, y: top, width: w - LEFT - RIGHT, height: ph, fill: "none", stroke: "#c8c8c8" }));
        backs.push(K.svg("text", { x: LEFT + 4, y: top + ph - 4 }, panel.label));
        backs.push(K.svg("text", { x: LEFT - 4, y: top + 10, "text-anchor": "end" }, Math.round(hi)));
        backs.push(K.svg("text", { x: LEFT - 4, y: top + ph, "text-anchor": "end" }, Math.round(lo)));
        if (panel.level !== undefined && panel.level !== null) {
          backs.push(K.svg("line", { x1: LEFT, x2: w - RIGHT, y1: y(panel.level), y2: y(panel.level), stroke: "#555555", "stroke-dasharray": "5 4" }));
        }
        paths.push(K.svg("path", { d: columns(panel.v, y), fill: "none", stroke: "#000000", "stroke-width": 1.4 }));
      });
      backs.push(...timeAxis(h - 4));
      back.replaceChildren(...backs);
      lines.replaceChildren(...paths);
      cursorLine.setAttribute("y1", 0); cursorLine.setAttribute("y2", h - AXIS);
      drawCursor(cursor);
    }

    // Per pixel column the first, lowest, highest and last value: spikes
    // survive and a ten-hour flight costs a few thousand points.
    function columns(v, y) {
      let d = "", col = NaN, first = 0, lo = 0, hi = 0, last = 0;
      const flush = () => {
        if (Number.isNaN(col)) return;
        d += `L${col} ${y(first).toFixed(1)}L${col} ${y(lo).toFixed(1)}L${col} ${y(hi).toFixed(1)}L${col} ${y(last).toFixed(1)}`;
      };
      for (let i = range[0]; i <= range[1]; i++) {
        const c = Math.round(xAt(S.t[i]));
        const broken = i > range[0] && S.t[i] - S.t[i - 1] > GAP_S;
        if (c !== col || broken) {
          flush();
          if (broken || Number.isNaN(col)) d += `M${c} ${y(v[i]).toFixed(1)}`;
          col = c; first = lo = hi = v[i];
        }
        lo = Math.min(lo, v[i]); hi = Math.max(hi, v[i]); last = v[i];
      }
      flush();
      return d;
    }

    function timeAxis(baseline) {
      const span = Math.max(1, S.t[range[1]] - S.t[range[0]]);
      const steps = [10, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200];
      const step = steps.find((s) => span / s <= (w - LEFT) / 90) || 10800;
      const out = [];
      for (let t = Math.ceil((S.start + S.t[range[0]]) / step) * step - S.start; t <= S.t[range[1]]; t += step) {
        out.push(K.svg("text", { x: xAt(t), y: baseline, "text-anchor": "middle" }, K.clock(S.start + t).slice(0, step < 60 ? 8 : 5)));
      }
      return out;
    }

    function drawCursor(i) {
      const x = n ? xAt(S.t[i]) : -10;
      const inside = i >= range[0] && i <= range[1];
      cursorLine.setAttribute("x1", x); cursorLine.setAttribute("x2", x);
      cursorLine.setAttribute("visibility", inside ? "visible" : "hidden");
    }
    listeners.push(drawCursor);

    const pointerX = (e) => e.clientX - box.getBoundingClientRect().left;
    let dragFrom = null;
    box.addEventListener("pointermove", (e) => {
      const x = pointerX(e);
      if (x >= LEFT) setCursor(indexAt(tAt(x)));
      if (dragFrom !== null) {
        selection.setAttribute("x", Math.min(dragFrom, x)); selection.setAttribute("width", Math.abs(x - dragFrom));
        selection.setAttribute("height", h - AXIS);
      }
    });
    box.addEventListener("pointerdown", (e) => { dragFrom = pointerX(e); box.setPointerCapture(e.pointerId); });
    box.addEventListener("pointerup", (e) => {
      const x = pointerX(e);
      if (dragFrom !== null && Math.abs(x - dragFrom) > 6) {
        const a = indexAt(tAt(Math.min(x, dragFrom))), b = indexAt(tAt(Math.max(x, dragFrom)));
        if (b > a) { range = [a, b]; draw(); }
      }
      dragFrom = null;
      selection.setAttribute("width", 0);
    });
    box.addEventListener("dblclick", () => { range = [0, Math.max(0, n - 1)]; draw(); });
    $("whole-flight").addEventListener("click", () => { range = [0, Math.max(0, n - 1)]; draw(); });
    window.addEventListener("resize", draw);
    draw();
  }

  // ---- landing panel ----
  // A list of figures whose data-key values come from `object`; the `path`
  // says where in the flight's JSON that object lies.
  function figures(path, object, rows) {
    const list = K.el("dl", { class: "figures", "data-path": path });
    for (const [label, key, unit] of rows) K.figure(list, label, key, object[key], unit);
    return list;
  }
  // A time a pilot can click to move the cursor there.
  function timeButton(text) {
    const button = K.el("button", { type: "button", class: "timed", "data-time": text }, text);
    button.addEventListener("click", () => setCursor(indexOfClock(text)));
    return button;
  }
  const notAnalysed = (what) => K.el("p", { class: "missing" }, `${what}: not analysed`);

  function landingPanel() {
    const box = $("landing");
    if (F.takeoff_report) {
      box.append(K.el("h3", {}, "Takeoff"), figures("takeoff_report", F.takeoff_report, [
        ["Airport", "airport"], ["Runway", "runway"], ["Roll", "roll_m", "m"], ["Lift-off past the runway's start", "liftoff_distance_m", "m"]]));
    }
    if (!Array.isArray(F.landings)) {
      const card = K.el("div", { class: "landing-card" });
      if (F.landing) {
        card.append(K.el("p", {}, "Touchdown at ", timeButton(F.landing)));
        const list = K.el("dl", { class: "figures" });
        K.figure(list, "Rate", "touchdown_fpm", F.touchdown_fpm, "ft/min");
        card.append(list);
      } else {
        card.append(K.el("p", {}, "No landing recorded."));
      }
      card.append(notAnalysed("Runway, touchdown point and centreline"));
      box.append(card);
    } else if (!F.landings.length) {
      box.append(K.el("p", {}, "No touchdown recorded."));
    }
    (F.landings || []).forEach((l, k) => {
      const card = K.el("div", { class: "landing-card" });
      card.append(K.el("h3", {}, l.kind === "final" ? "Landing " : "Touch-and-go ", timeButton(l.time),
        ` ${l.airport || ""} ${l.runway ? `runway ${l.runway}` : ""}`));
      card.append(figures(`landings.${k}`, l, [
        ["Past the threshold", "touchdown_distance_m", "m"], ["Right of the centreline", "centreline_offset_m", "m"],
        ["Crab", "crab_deg", "\u00b0"], ["Rate", "touchdown_fpm", "ft/min"], ["Airspeed", "ias_kt", "kt"],
        ["Pitch", "pitch_deg", "\u00b0"], ["Bank", "bank_deg", "\u00b0"], ["Bounces", "bounces"],
        ...(l.kind === "final" ? [["Roll", "roll_m", "m"], ["Runway left", "remaining_m", "m"]] : [])]));
      card.append(runwayStrip(l));
      box.append(card);
    });

    box.append(K.el("h3", {}, "Approach"));
    if (!has("approach")) box.append(notAnalysed("Approach gates"));
    else if (!F.approach) box.append(K.el("p", {}, "No approach to judge."));
    else {
      const a = F.approach;
      const cols = [["Height", "height_ft"], ["Airspeed kt", "ias_kt"], ["Sink ft/min", "sink_fpm"], ["Bank \u00b0", "bank_deg"],
        ["Glidepath \u00b0", "glidepath_dev_deg"], ["Centreline m", "centreline_dev_m"]];
      const table = K.el("table", { "data-path": "approach" },
        K.el("thead", {}, K.el("tr", {}, ...cols.map(([label]) => K.el("th", { scope: "col" }, label)))));
      const body = K.el("tbody");
      (a.gates || []).forEach((g, k) => body.append(K.el("tr", { "data-path": `approach.gates.${k}` },
        ...cols.map(([, key]) => K.el("td", {}, K.el("span", { "data-key": key }, K.shown(g[key])))))));
      table.append(body);
      const verdict = K.el("p", { "data-path": "approach" }, "Stable: ",
        K.el("span", { "data-key": "stable", class: a.stable ? "stable" : "not-stable" }, K.shown(a.stable)));
      if (a.reasons && a.reasons.length) verdict.append(` (${a.reasons.join("; ")})`);
      box.append(K.el("div", { class: "scroll" }, table), verdict);
    }

    const timedList = (title, key, describe) => {
      box.append(K.el("h3", {}, title));
      if (!has(key)) { box.append(notAnalysed(title)); return; }
      if (!F[key].length) { box.append(K.el("p", {}, "None.")); return; }
      box.append(K.el("ul", {}, ...F[key].map((item) => K.el("li", {}, timeButton(item.time), " ", describe(item)))));
    };
    timedList("Go-arounds and low passes", "go_arounds", (g) => `${g.airport || "?"} ${g.runway || ""}, lowest ${K.shown(g.lowest_ft_agl)} ft above the runway`);
    timedList("Events", "events", (e) => `${e.kind}: peak ${K.shown(e.peak)} (limit ${K.shown(e.limit)}) for ${K.shown(e.duration_s)} s`);
  }

  // The runway seen from above for a final landing: threshold, touchdown,
  // the roll and what was left, drawn to scale along its length.
  function runwayStrip(l) {
    if (l.touchdown_distance_m === null || l.roll_m === null || l.remaining_m === null ||
        l.touchdown_distance_m === undefined || l.roll_m === undefined || l.remaining_m === undefined) return "";
    const length = Math.max(1, Math.max(0, l.touchdown_distance_m) + l.roll_m + l.remaining_m);
    const W = 700, s = (W - 20) / length, mid = 45, half = 15;
    const x = (m) => 10 + m * s;
    const off = Math.max(-half, Math.min(half, -(l.centreline_offset_m || 0) * 0.5));
    const strip = K.svg("svg", { viewBox: `0 0 ${W} 90`, role: "img", "aria-label": "The runway with the touchdown point and the roll" });
    strip.append(
      K.svg("rect", { x: x(0), y: mid - half, width: length * s, height: 2 * half, fill: "#dddddd", stroke: "#555555" }),
      K.svg("line", { x1: x(0), x2: x(length), y1: mid, y2: mid, stroke: "#ffffff", "stroke-dasharray": "8 6" }),
      K.svg("line", { x1: x(l.touchdown_distance_m), x2: x(l.touchdown_distance_m + l.roll_m), y1: mid + off, y2: mid + off, stroke: "#cc79a7", "stroke-width": 4 }),
      K.svg("circle", { cx: x(l.touchdown_distance_m), cy: mid + off, r: 5, fill: "#ffffff", stroke: "#000000", "stroke-width": 2 }),
      K.svg("text", { x: x(0), y: 12 }, "threshold"),
      K.svg("text", { x: x(l.touchdown_distance_m), y: 84 }, `touchdown ${l.touchdown_distance_m} m`),
      K.svg("text", { x: x(length), y: 12, "text-anchor": "end" }, `${l.remaining_m} m left`));
    return strip;
  }

  // ---- commands ----
  function commands() {
    const quote = (text) => `'${String(text).replace(/'/g, "'\\''")}'`;
    const first = K.clock(S.start), last = K.clock(S.start + (n ? S.t[n - 1] : 0));
    const rows = [["The whole flight in FlightGear", `kestrun-replay ${quote(F.file)} --from ${F.off_block || first} --to ${F.on_block || last}`]];
    if (F.landing) {
      const at = K.secondsOf(F.landing);
      rows.push(["The landing, from two minutes before", `kestrun-replay ${quote(F.file)} --from ${K.clock(at - 120)} --to ${K.clock(at + 60)}`]);
    }
    rows.push(["The track as GPX", `kestrun-logbook show ${F.id} --export gpx --output flight-${F.id}.gpx`]);
    const box = $("commands");
    for (const [label, text] of rows) {
      const copy = K.el("button", { type: "button" }, "Copy");
      copy.addEventListener("click", () => navigator.clipboard && navigator.clipboard.writeText(text).then(() => { copy.textContent = "Copied"; }, () => {}));
      box.append(K.el("div", { class: "tools" }, K.el("span", {}, label), copy), K.el("pre", {}, text));
    }
  }

  // Arrow keys move the cursor a record, a second (with Shift ten), Page keys a
  // minute, Home and End to the ends.
  document.addEventListener("keydown", (e) => {
    if (e.target instanceof HTMLInputElement) return;
    const records = { ArrowLeft: -1, ArrowRight: 1 }, seconds = { PageUp: -60, PageDown: 60 };
    if (e.key in records) setCursor(cursor + records[e.key] * (e.shiftKey ? 10 : 1));
    else if (e.key in seconds) setCursor(indexAt(S.t[cursor] + seconds[e.key]));
    else if (e.key === "Home") setCursor(0);
    else if (e.key === "End") setCursor(n - 1);
    else return;
    e.preventDefault();
  });

  header();
  readout();
  if (n) { planView(); profiles(); }
  landingPanel();
  commands();
  setCursor(cursor);
  document.body.dataset.ready = "1";
})();
