# Turns the per-target "key value" files into one table of figures with their
# ratio to the direct connection. Input: lines "TARGET KEY VALUE", targets in
# column order. A target without figures shows "n/a".
function fmt(v) {
  if (v ~ /\//) return v
  if (v < 0) return "-"
  if (v == int(v)) return sprintf("%d", v)
  if (v >= 100) return sprintf("%.0f", v)
  if (v >= 10) return sprintf("%.1f", v)
  return sprintf("%.2f", v)
}
function cell(t, k,   v, d) {
  if (!((t, k) in val)) return "n/a"
  v = val[t, k]
  d = val["direct", k]
  if (t == "direct" || !(k in ratioed) || v ~ /\// || v <= 0 || d <= 0) return fmt(v)
  return sprintf("%s (%.2fx)", fmt(v), v / d)
}
BEGIN {
  nrows = split("bulk1_up bulk1_down bulk8_up bulk8_down bulk1_up_cpu bulk1_down_cpu bulk8_up_cpu bulk8_down_cpu rtt1_p50 rtt1_p99 rtt1_cpu rtt4k_p50 rtt4k_p99 cps idle_kib idle_cpu idle_held ports_kib ports_cpu close_up close_down halfclose menu_p50 menu_max menu_log_p50 menu_log_max dropped refused lost", rows, " ")
  label["bulk1_up"] = "bulk 1 stream c->s MiB/s"
  label["bulk1_down"] = "bulk 1 stream s->c MiB/s"
  label["bulk8_up"] = "bulk 8 streams c->s MiB/s"
  label["bulk8_down"] = "bulk 8 streams s->c MiB/s"
  label["bulk1_up_cpu"] = "relay CPU s per GiB, 1 stream c->s"
  label["bulk1_down_cpu"] = "relay CPU s per GiB, 1 stream s->c"
  label["bulk8_up_cpu"] = "relay CPU s per GiB, 8 streams c->s"
  label["bulk8_down_cpu"] = "relay CPU s per GiB, 8 streams s->c"
  label["rtt1_p50"] = "round trip 1 B p50 us"
  label["rtt1_p99"] = "round trip 1 B p99 us"
  label["rtt1_cpu"] = "relay CPU us per 1 B trip"
  label["rtt4k_p50"] = "round trip 4 KiB p50 us"
  label["rtt4k_p99"] = "round trip 4 KiB p99 us"
  label["cps"] = "connections/s (16 clients)"
  label["idle_kib"] = "KiB per idle connection"
  label["idle_cpu"] = "CPU % with them idle"
  label["idle_held"] = "idle connections held"
  label["ports_kib"] = "KiB per listening port (1000)"
  label["ports_cpu"] = "CPU % with 1000 ports at rest"
  label["close_up"] = "1 MiB + close c->s whole"
  label["close_down"] = "1 MiB + close s->c whole"
  label["halfclose"] = "half-close, 64 KiB answer"
  label["menu_p50"] = "window menu ms, p50"
  label["menu_max"] = "window menu ms, max"
  label["menu_log_p50"] = "  the same, log open, p50"
  label["menu_log_max"] = "  the same, log open, max"
  label["dropped"] = "log lines dropped"
  label["refused"] = "connections refused/dropped"
  label["lost"] = "streams lost/corrupted"
  split("bulk1_up bulk1_down bulk8_up bulk8_down rtt1_p50 rtt1_p99 rtt4k_p50 rtt4k_p99 cps", r, " ")
  for (i in r) ratioed[r[i]] = 1
}
{
  if (!($1 in seen)) { seen[$1] = 1; order[++ntargets] = $1 }
  if ($2 == "-") next
  # Fault counts come once per phase and round and add up; a figure measured
  # in several rounds shows their median.
  if ($2 == "refused" || $2 == "lost") val[$1, $2] += $3
  else if ($3 ~ /\//) val[$1, $2] = $3
  else samples[$1, $2, ++nsamples[$1, $2]] = $3
}
function median(t, k,   n, i, j, a, x) {
  n = nsamples[t, k]
  for (i = 1; i <= n; i++) {
    x = samples[t, k, i] + 0
    for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]
    a[j + 1] = x
  }
  return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
END {
  for (key in nsamples) {
    split(key, part, SUBSEP)
    val[part[1], part[2]] = median(part[1], part[2])
  }
  w = 17
  printf "%-29s", "figure (ratio to direct)"
  for (i = 1; i <= ntargets; i++) printf "%" w "s", order[i]
  printf "\n"
  for (j = 1; j <= nrows; j++) {
    printf "%-29s", label[rows[j]]
    for (i = 1; i <= ntargets; i++) printf "%" w "s", cell(order[i], rows[j])
    printf "\n"
  }
  # What the window costs the relay, from the same rounds.
  if (("Quillex+window", "cps") in val && ("Quillex", "cps") in val && val["Quillex", "cps"] > 0 &&
      val["Quillex", "rtt1_p50"] > 0)
    printf "\nQuillex+window against Quillex: connections/s %.2fx, round trip 1 B p50 %.2fx\n",
           val["Quillex+window", "cps"] / val["Quillex", "cps"],
           val["Quillex+window", "rtt1_p50"] / val["Quillex", "rtt1_p50"]
}
