"use strict";
// Shared by both pages: building elements, reading the embedded JSON, and
// figures that carry the key and value of the logbook's own JSON.
const K = (() => {
  const SVG = "http://www.w3.org/2000/svg";

  function el(tag, attrs, ...kids) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attrs || {})) {
      if (value !== undefined && value !== null) node.setAttribute(name, value);
    }
    for (const kid of kids) node.append(kid);
    return node;
  }

  function svg(tag, attrs, text) {
    const node = document.createElementNS(SVG, tag);
    for (const [name, value] of Object.entries(attrs || {})) node.setAttribute(name, value);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  const data = (id) => JSON.parse(document.getElementById(id).textContent);

  // How a JSON value reads on the page; tests apply the same rule.
  function shown(value) {
    if (value === null || value === undefined || value === "") return "\u2014";
    if (value === true) return "yes";
    if (value === false) return "no";
    return String(value);
  }

  const pad = (n) => String(n).padStart(2, "0");
  // "HH:MM:SS" of a second of the day (any count of days is folded).
  function clock(seconds) {
    const s = ((Math.round(seconds) % 86400) + 86400) % 86400;
    return `${pad(Math.floor(s / 3600))}:${pad(Math.floor(s / 60) % 60)}:${pad(s % 60)}`;
  }
  function secondsOf(text) {
    const [h, m, s] = text.split(":").map(Number);
    return h * 3600 + m * 60 + s;
  }
  // A duration in seconds as hours and minutes, "1:05", to the nearest
  // minute as kestrun-logbook's list rounds it.
  const hoursMinutes = (s) => {
    if (s === null || s === undefined) return "";
    const minutes = Math.round(s / 60);
    return `${Math.floor(minutes / 60)}:${pad(minutes % 60)}`;
  };

  // <div><dt>label</dt><dd><span data-key>value</span> unit</dd></div>: the
  // span holds exactly the JSON value, the rest is for reading.
  function figure(list, label, key, value, unit, aside) {
    const dd = el("dd", {}, el("span", { "data-key": key }, shown(value)));
    if (unit && value !== null && value !== undefined) dd.append(" ", el("span", { class: "unit" }, unit));
    if (aside) dd.append(" ", el("span", { class: "aside" }, aside));
    list.append(el("div", {}, el("dt", {}, label), dd));
    return dd;
  }

  return { el, svg, data, shown, clock, secondsOf, hoursMinutes, figure };
})();
