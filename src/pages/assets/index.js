// The index: every flight in a table, sortable by any column and filtered
// by airport and date; the totals above it.
(() => {
  const flights = K.data("flights-data");
  const stats = K.data("stats-data");

  const totals = document.getElementById("totals");
  const t = stats.total;
  K.figure(totals, "Flights", "flights", t.flights);
  K.figure(totals, "Landings", "landings", t.landings);
  K.figure(totals, "Air time", "air_hours", t.air_hours, "h");
  K.figure(totals, "Block time", "block_hours", t.block_hours, "h");
  K.figure(totals, "Distance", "distance_nm", t.distance_nm, "nm");

  const route = (f) => `${f.departure || "?"} \u2192 ${f.arrival || "?"}`;
  // Each column: heading, how a flight sorts on it, and its cell.
  const columns = [
    { label: "Date", key: (f) => `${f.date} ${f.takeoff || f.off_block || ""}`, cell: (f) => K.el("a", { href: `flight-${f.id}.html` }, f.date) },
    { label: "Route", key: route, cell: route },
    { label: "Runway", key: (f) => f.runway || "", cell: (f) => K.shown(f.runway) },
    { label: "Off-block", key: (f) => f.off_block || "", cell: (f) => K.shown(f.off_block) },
    { label: "Takeoff", key: (f) => f.takeoff || "", cell: (f) => K.shown(f.takeoff) },
    { label: "Landing", key: (f) => f.landing || "", cell: (f) => K.shown(f.landing) },
    { label: "On-block", key: (f) => f.on_block || "", cell: (f) => K.shown(f.on_block) },
    { label: "Air", num: true, key: (f) => f.air_time_s ?? -1, cell: (f) => K.hoursMinutes(f.air_time_s) || "\u2014" },
    { label: "nm", num: true, key: (f) => f.distance_nm, cell: (f) => f.distance_nm.toFixed(1) },
    { label: "ft/min", num: true, key: (f) => f.touchdown_fpm ?? -1e9, cell: (f) => K.shown(f.touchdown_fpm) },
    { label: "Past threshold m", num: true, key: (f) => f.touchdown_distance_m ?? -1e9, cell: (f) => K.shown(f.touchdown_distance_m) },
    { label: "T&G", num: true, key: (f) => f.touch_and_goes, cell: (f) => String(f.touch_and_goes) },
  ];

  const table = document.getElementById("flights");
  const head = table.tHead.rows[0];
  const body = table.tBodies[0];
  let sortColumn = 0;
  let ascending = true;

  columns.forEach((column, i) => {
    const button = K.el("button", { type: "button" }, column.label);
    button.addEventListener("click", () => {
      ascending = sortColumn === i ? !ascending : true;
      sortColumn = i;
      render();
    });
    head.append(K.el("th", { scope: "col", class: column.num ? "num" : null }, button));
  });

  const airport = document.getElementById("filter-airport");
  const from = document.getElementById("filter-from");
  const to = document.getElementById("filter-to");
  for (const input of [airport, from, to]) input.addEventListener("input", render);

  function render() {
    const want = airport.value.trim().toUpperCase();
    const rows = flights.filter((f) =>
      (!want || (f.departure || "").toUpperCase().includes(want) || (f.arrival || "").toUpperCase().includes(want)) &&
      (!from.value || f.date >= from.value) && (!to.value || f.date <= to.value));
    const key = columns[sortColumn].key;
    rows.sort((a, b) => {
      const x = key(a), y = key(b);
      const order = x < y ? -1 : x > y ? 1 : a.id - b.id;
      return ascending ? order : -order;
    });
    body.replaceChildren(...rows.map((f) => {
      const tr = K.el("tr", { "data-id": f.id });
      for (const column of columns) tr.append(K.el("td", { class: column.num ? "num" : null }, column.cell(f)));
      return tr;
    }));
    [...head.cells].forEach((th, i) =>
      th.setAttribute("aria-sort", i === sortColumn ? (ascending ? "ascending" : "descending") : "none"));
    document.getElementById("shown").textContent = `${rows.length} of ${flights.length} flights`;
  }
  render();
  document.body.dataset.ready = "1";
})();
