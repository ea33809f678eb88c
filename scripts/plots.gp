# Draws the measurements of build/plots/*.dat (written by the measure program) into
# docs/*.png, every plot the same size with its legend below the data. Run from the top
# folder: gnuplot scripts/plots.gp
set terminal pngcairo size 1000,460 font "DejaVu Sans,10" noenhanced
set datafile commentschars "#"
set grid
# The legend sits below the axis title, with room of its own.
set key below horizontal spacing 1.2
set bmargin 6
d = "build/plots/"

set output "docs/comb-banks.png"
set multiplot layout 1,2 title "Comb banks at their defaults (decay 0.5), 44100 Hz, driven by a unit impulse"
set title "impulse response"
set xlabel "time, samples"; set ylabel "output, signal units (input impulse 1)"
set xrange [0:4096]
plot d."comb-impulse.dat" u 1:2 w impulses lw 1 t "velmarR~", \
     "" u 1:(-$4) w impulses lw 1 t "plenthR~ (negated)"
set title "loudest resonance in each 1/16-octave band"
set xlabel "frequency, Hz"; set ylabel "magnitude, dB (0 dB = unit gain)"
set logscale x; set xrange [20:20000]
plot d."comb-magnitude.dat" u 1:2 w l lw 2 t "velmarR~ tone 0", \
     "" u 1:3 w l lw 2 t "velmarR~ tone 0.3", \
     "" u 1:4 w l lw 2 t "velmarR~ tone 1", \
     "" u 1:5 w l lw 1 dt 2 t "plenthR~"
unset multiplot
unset logscale x

set output "docs/diffusers.png"
set multiplot layout 1,2 title "Allpass diffusers, 44100 Hz, driven by a unit impulse"
# Every echo is +-1, +-0.5, +-0.25 ...: as levels in dB, one dot per echo, they show how
# the echoes thicken and fade; the left tuning is alike, each stage 23 samples shorter.
set title "impulse response of skavelR~: one dot per echo (skavelL~ alike, sooner)"
set xlabel "time, samples"; set ylabel "echo level, dB re the impulse"
set xrange [0:1400]; set yrange [-27:3]
plot d."diffuser-impulse.dat" u 1:($2 > 0 ? 20 * log10($2) : 1/0) w p pt 7 ps 0.6 t "positive echo", \
     "" u 1:($2 < 0 ? 20 * log10(-$2) : 1/0) w p pt 6 ps 0.6 t "negative echo"
set autoscale y
set title "magnitude, 0 to 2 kHz: 8 to 18 dB of gain (alike above)"
set xlabel "frequency, Hz"; set ylabel "magnitude, dB (0 dB = unit gain)"
set xrange [0:2000]
plot d."diffuser-magnitude.dat" u 1:2 w l t "skavelR~"
unset multiplot

set output "docs/quadrature.png"
set multiplot layout 1,2 title "Phase-difference network, 44100 Hz, sines of peak 1"
set logscale x; set xrange [20:22050]
set title "quorrel~: lag of the right outlet behind the left"
set xlabel "frequency, Hz"; set ylabel "phase lag, degrees"
set yrange [85:95]
plot d."quadrature.dat" u 1:2 w lp pt 7 ps 0.4 t "measured", 90.73 w l dt 2 lc "gray" t "90 +/- 0.73", 89.27 w l dt 2 lc "gray" notitle
set title "lumbrisk~: output range once settled"
set ylabel "output, signal units"
set yrange [0.69:0.72]
plot d."quadrature.dat" u 1:3 w l lw 2 t "smallest", "" u 1:4 w l lw 2 t "largest", \
     0.70710677 w l dt 2 lc "gray" t "sine RMS 0.7071"
unset multiplot
unset logscale x; set autoscale y

set output "docs/ducker.png"
set multiplot layout 1,2 title "duck~, 44100 Hz"
set title "settled gain against a steady input (response 0)"
set xlabel "input level, dB re 1 (full scale)"; set ylabel "gain, dB (0 dB = gain 1)"
set xrange [-60:6]
plot d."duck-level.dat" u 1:2 w l lw 2 t "depth 0.25", "" u 1:3 w l lw 2 t "depth 0.5", "" u 1:4 w l lw 2 t "depth 1"
set title "gain over time: silence, 0.5 for half a second, silence (depth 1)"
set xlabel "time, s"; set ylabel "gain (factor) and input (signal units)"
set xrange [0:1.6]
plot d."duck-time.dat" u 1:2 w l lc "gray" t "input", "" u 1:3 w l lw 2 t "response 0", \
     "" u 1:4 w l lw 2 t "response 0.3", "" u 1:5 w l lw 2 t "response 1"
unset multiplot

# The first output sample of a fresh object at mix 1: the bit-flipped path, 0.005 per code
# step, before the DC-blocking high-pass has moved.
set output "docs/bitflip.png"
set multiplot layout 1,2 title "snarvel~ at mix 1: first output sample against input, both in signal units"
set title "transfer, noisegate 0.2 (the default)"
set xlabel "input, signal units"; set ylabel "output, signal units"
set xrange [-4:4]; set yrange [-0.85:0.55]
plot d."snarvel-transfer.dat" u 1:($2 * 0.005) w steps lw 1 t "measured"
set title "near silence: the band of inputs each noise gate turns into 0"
set xrange [-0.03:0.03]; set autoscale y
plot d."snarvel-gate.dat" u 1:($2 * 0.005) w steps lw 2 t "noisegate 0", "" u 1:($3 * 0.005) w steps lw 2 t "noisegate 0.2", \
     "" u 1:($4 * 0.005) w steps lw 2 t "noisegate 1"
unset multiplot

set output "docs/lowpass.png"
set title "damp~ magnitude, 44100 Hz: tone near 1 lifts the top above 0 dB"
set logscale x; set xrange [1:22050]; set yrange [-80:20]
set xlabel "frequency, Hz"; set ylabel "magnitude, dB (0 dB = unit gain)"
plot d."damp-magnitude.dat" u 1:2 w l lw 2 t "tone 0", "" u 1:3 w l lw 2 t "tone 0.25", \
     "" u 1:4 w l lw 2 t "tone 0.5", "" u 1:5 w l lw 2 t "tone 0.75", "" u 1:6 w l lw 2 t "tone 1", \
     0 w l dt 2 lc "gray" t "0 dB"
