# Comparing a headless race with its headless replay (sourced by the demo
# scripts). Each function prints what differs and returns 1 when it does.

# The final order a headless run prints, one line per rider:
# "number laps finished milliseconds".
demo_final_order() {  # demo_final_order OUTPUT
  awk '/^final order:/ { on = 1; next }
       on && /^ *[0-9]+\. slot / {
         n = $4; sub(/^#/, "", n); sub(/:$/, "", n)
         split($7, t, /[:.,]/)
         ms = (t[1] * 60 + t[2]) * 1000 + t[3]
         print n, $5, ($0 ~ /not finished/) ? 0 : 1, ms
       }' "$1"
}

# Same riders in the same order with the same laps and finished flags, and
# total times within `tics` tics.
demo_same_order() {  # demo_same_order OUT1 OUT2 TICS
  paste -d' ' <(demo_final_order "$1") <(demo_final_order "$2") | awk -v tics="$3" '
    { rows++
      if ($1 != $5 || $2 != $6 || $3 != $7) { print "differs: " $0; bad = 1 }
      d = $4 - $8; if (d < 0) d = -d
      if (d > tics * 1000 / 128 + 1) { print "time differs: " $0; bad = 1 } }
    END { if (rows == 0) { print "no final order"; bad = 1 }; exit bad }'
}

# Every crossing time in the results files within `tics` tics.
demo_same_crossings() {  # demo_same_crossings RESULTS1 RESULTS2 TICS
  local a b
  a=$(tr -d '\r' <"$1" | awk 'NR > 2 && !/\|/' | tr -s ' \n' '\n\n' | grep -v '^$')
  b=$(tr -d '\r' <"$2" | awk 'NR > 2 && !/\|/' | tr -s ' \n' '\n\n' | grep -v '^$')
  paste -d' ' <(echo "$a") <(echo "$b") | awk -v tics="$3" '
    NF != 2 { print "crossing counts differ"; bad = 1; exit 1 }
    { d = $1 - $2; if (d < 0) d = -d; n++
      if (d > tics / 128 + 0.0011) { print "crossing differs: " $0; bad = 1 }
      if (d > worst) worst = d }
    END { printf "%d crossings, largest difference %.4f s\n", n, worst; exit bad }'
}

demo_digest() { sed -n 's/^height field digest //p' "$1"; }
