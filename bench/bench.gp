# Draws what make bench measured, from the CSV files bench_link and
# bench_download wrote into one folder: round-trip latency per port kind
# (vornex beside the bare client), host and Wine server CPU per 1,000 round
# trips, and download throughput against the wire limit per rate.
# Usage: gnuplot -c bench/bench.gp FOLDER OUTPUT.png [SUBTITLE]
dir = ARG1
latency = dir.'/bench-latency.csv'
cpu = dir.'/bench-cpu.csv'
download = dir.'/bench-download.csv'
set terminal pngcairo size 1500,520 font 'sans,10'
set output ARG2
set datafile separator ','
set bmargin 5
set key autotitle columnheader
set multiplot layout 1,3 title 'vornex benchmarks'.(ARG3 eq '' ? '' : ' - '.ARG3) font 'sans,13'

# Colours by port kind (TCP, COM, FTDI); vornex solid, the bare client dashed.
array colour[3] = ['#1f77b4', '#ff7f0e', '#2ca02c']

set title "Round-trip latency, 8-byte echo command\n(vornex solid, the bare client dashed)"
set xlabel 'latency, ms (log scale)'
set ylabel 'share of round trips at or below'
set logscale x
set format x '%g'
set yrange [0:1]
set grid
set key bottom right
stats latency nooutput
columns = STATS_columns
plot for [i=2:columns] latency using (column(i) > 0 ? column(i) : 1e-4):1 with lines \
     lw (i % 2 == 0 ? 2.5 : 1.5) dt 1 + i % 2 lc rgb (colour[(i - 2) / 2 + 1]) title columnhead(i)

unset logscale x
set format x
set title "CPU per 1,000 round trips, median of the repeats\n(under each port: vornex / bare)"
unset xlabel
set ylabel 'CPU seconds per 1,000 round trips (log scale)'
set logscale y
set yrange [0.001:100]
set format y '%g'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key top left samplen 2
set xtics nomirror
times(x) = (x < 10 ? sprintf('%.1f', x) : sprintf('%.0f', x)).'x'
plot cpu using 2:xticlabels(sprintf("%s\nhost %s\nserver %s", strcol(1), times(column(4)), times(column(7)))) \
         lc rgb '#4c72b0' title 'host, vornex', \
     '' using 3 lc rgb '#a6bddb' title 'host, bare', \
     '' using 5 lc rgb '#c44e52' title 'Wine server, vornex', \
     '' using 6 lc rgb '#f4a582' title 'Wine server, bare'

unset logscale y
set format y
set title 'FTDI download throughput, paced at the line rate'
set xlabel 'line rate, bit/s'
set ylabel 'pages per second (272-byte frames)'
set yrange [0:*]
set key top left
plot download using 5:xticlabels(1) lc rgb '#bbbbbb' title 'wire limit', \
     '' using 4 lc rgb '#2ca02c' title 'vornex', \
     '' using ($0):($4):(sprintf('%.0f%%', 100 * $4 / $5)) with labels offset 2.2,0.8 notitle

unset multiplot
