# Draws the measurements of build/plots/*.dat (written by the measure program) into
# docs/*.png. Run from the top folder: gnuplot scripts/plots.gp
set terminal pngcairo size 1000,420 font "DejaVu Sans,10" noenhanced
set datafile commentschars "#"
set grid
set key top right
d = "build/plots/"

set output "docs/comb-banks.png"
set multiplot layout 1,2 title "Comb banks at their defaults (decay 0.5), 44100 Hz"
set title "impulse response"
set xlabel "sample"; set ylabel "output"
set xrange [1000:4096]
plot d."comb-impulse.dat" u 1:2 w impulses lw 1 t "velmarR~", \
     "" u 1:(-$4) w impulses lw 1 t "plenthR~ (negated)"
set title "peak magnitude per band"
set xlabel "Hz"; set ylabel "dB"
set logscale x; set xrange [20:20000]
plot d."comb-magnitude.dat" u 1:2 w l lw 2 t "velmarR~ tone 0", \
     "" u 1:3 w l lw 2 t "velmarR~ tone 0.3", \
     "" u 1:4 w l lw 2 t "velmarR~ tone 1", \
     "" u 1:5 w l lw 1 dt 2 t "plenthR~"
unset multiplot
unset logscale x

set output "docs/diffusers.png"
set multiplot layout 1,2 title "Allpass diffusers, 44100 Hz"
set title "impulse response"
set xlabel "sample"; set ylabel "output"
set xrange [0:1400]
plot d."diffuser-impulse.dat" u 1:2 w impulses t "skavelR~", "" u 1:(-$3) w impulses t "skavelL~ (negated)"
set title "magnitude (skavelR~)"
set xlabel "Hz"; set ylabel "dB"
set xrange [0:2000]
plot d."diffuser-magnitude.dat" u 1:2 w l t "skavelR~"
unset multiplot

set output "docs/quadrature.png"
set multiplot layout 1,2 title "Phase-difference network, 44100 Hz, sines of peak 1"
set logscale x; set xrange [20:22050]
set title "quorrel~: lag of the right outlet behind the left"
set xlabel "Hz"; set ylabel "degrees"
set yrange [85:95]
plot d."quadrature.dat" u 1:2 w lp pt 7 ps 0.4 t "measured", 90.73 w l dt 2 lc "gray" t "90 +/- 0.73", 89.27 w l dt 2 lc "gray" notitle
set title "lumbrisk~: output range once settled"
set ylabel "output"
set yrange [0.69:0.72]
plot d."quadrature.dat" u 1:3 w l lw 2 t "smallest", "" u 1:4 w l lw 2 t "largest", \
     0.70710677 w l dt 2 lc "gray" t "RMS of the sine"
unset multiplot
unset logscale x; set autoscale y

set output "docs/ducker.png"
set multiplot layout 1,2 title "duck~, 44100 Hz"
set title "settled gain against a steady input level (response 0)"
set xlabel "input level, dB"; set ylabel "gain, dB"
set xrange [-60:6]; set key bottom left
plot d."duck-level.dat" u 1:2 w l lw 2 t "depth 0.25", "" u 1:3 w l lw 2 t "depth 0.5", "" u 1:4 w l lw 2 t "depth 1"
set title "gain over time: silence, 0.5 for half a second, silence (depth 1)"
set xlabel "seconds"; set ylabel "gain"
set xrange [0:1.6]; set key top right
plot d."duck-time.dat" u 1:2 w l lc "gray" t "input", "" u 1:3 w l lw 2 t "response 0", \
     "" u 1:4 w l lw 2 t "response 0.3", "" u 1:5 w l lw 2 t "response 1"
unset multiplot

set output "docs/bitflip.png"
set multiplot layout 1,2 title "snarvel~: code offset from silence that the bit-flipped path adds"
set title "transfer, noisegate 0.2"
set xlabel "input"; set ylabel "code offset"
set xrange [-4:4]; set key top left
plot d."snarvel-transfer.dat" u 1:2 w steps lw 1 t "measured"
set title "near silence: the noise gate"
set xrange [-0.03:0.03]
plot d."snarvel-gate.dat" u 1:2 w steps lw 2 t "noisegate 0", "" u 1:3 w steps lw 2 t "noisegate 0.2", \
     "" u 1:4 w steps lw 2 t "noisegate 1"
unset multiplot

set terminal pngcairo size 620,420 font "DejaVu Sans,10" noenhanced
set output "docs/lowpass.png"
set title "damp~ magnitude, 44100 Hz"
set logscale x; set xrange [20:22050]; set yrange [-80:10]
set xlabel "Hz"; set ylabel "dB"; set key bottom left
plot d."damp-magnitude.dat" u 1:2 w l lw 2 t "tone 0", "" u 1:3 w l lw 2 t "tone 0.25", \
     "" u 1:4 w l lw 2 t "tone 0.5", "" u 1:5 w l lw 2 t "tone 0.75", "" u 1:6 w l lw 2 t "tone 1"
