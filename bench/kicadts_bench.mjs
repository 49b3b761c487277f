// The npm package kicadts over the same files as sexpr_bench: read MB/s (files into strings,
// best of 3) and parse MB/s of its generic s-expression parser (one round), so that the two
// reports can be compared side by side. Files it rejects (it throws on some symbol libraries)
// are counted as errors; their time up to the throw is included. Times are CPU time, as in the C++ benchmark.
//
//   node bench/kicadts_bench.mjs [symbol_dir] [footprint_dir]
import { readdirSync, readFileSync, statSync } from "node:fs"
import { join } from "node:path"
import { parseKicadSexpr } from "kicadts"

const symDir = process.argv[2] ?? "/usr/share/kicad/symbols"
const fpDir = process.argv[3] ?? "/usr/share/kicad/footprints"

// Process CPU time (user + system, all threads) in seconds, as the C++ benchmark measures.
function cpuNow() {
  const u = process.cpuUsage()
  return (u.user + u.system) / 1e6
}

function collect(dir, ext) {
  const out = []
  for (const name of readdirSync(dir).sort()) {
    const p = join(dir, name)
    if (statSync(p).isDirectory()) out.push(...collect(p, ext))
    else if (name.endsWith(ext)) out.push(p)
  }
  return out
}

function measure(files) {
  let texts = []
  let readS = Infinity
  for (let round = 0; round < 3; round++) {
    const t0 = cpuNow()
    texts = files.map((f) => readFileSync(f, "utf8"))
    readS = Math.min(readS, cpuNow() - t0)
  }
  const bytes = files.reduce((n, f) => n + statSync(f).size, 0)
  // One parse round: the package is slow enough that three would take many minutes.
  let parseS = Infinity
  let errors = 0
  for (let round = 0; round < 1; round++) {
    errors = 0
    const t0 = cpuNow()
    for (const t of texts) {
      try {
        parseKicadSexpr(t)
      } catch {
        errors++
      }
    }
    parseS = Math.min(parseS, cpuNow() - t0)
  }
  return { files: files.length, bytes, readS, parseS, errors }
}

function report(what, f) {
  const mb = f.bytes / 1e6
  console.log(
    `${what.padEnd(11)} ${String(f.files).padStart(6)} files ${mb.toFixed(1).padStart(8)} MB ` +
      `${f.errors} errors | read ${(mb / f.readS).toFixed(0).padStart(7)} MB/s | ` +
      `parse ${(mb / f.parseS).toFixed(1).padStart(6)} MB/s | parse/read ` +
      `${(f.readS / f.parseS).toFixed(3)}`,
  )
}

const s = measure(collect(symDir, ".kicad_sym"))
report("symbols", s)
const f = measure(collect(fpDir, ".kicad_mod"))
report("footprints", f)
report("all", {
  files: s.files + f.files,
  bytes: s.bytes + f.bytes,
  readS: s.readS + f.readS,
  parseS: s.parseS + f.parseS,
  errors: s.errors + f.errors,
})
