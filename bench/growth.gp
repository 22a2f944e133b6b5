# Growth curves of the benchmark; run with -e "data='FILE'; out='PNG'".
set terminal pngcairo size 1100,450 font "sans,10"
set output out
set datafile missing "NaN"
set multiplot layout 1,2 title "Median wall time per run against the number of messages"
set logscale x
set xrange [5:20000]
set xlabel "messages on the board"
set ylabel "median µs"
set key bottom right
set grid
set yrange [0:*]
set title "Reads: one page, one record"
plot data using 1:2 with linespoints lw 2 pt 7 title "ListPage, newest page", \
     data using 1:3 with linespoints lw 2 pt 6 title "ListPage, oldest page", \
     data using 1:4 with linespoints lw 2 pt 5 title "ShowPage, first message", \
     data using 1:5 with linespoints lw 2 pt 4 title "ShowPage, last message", \
     data using 1:6 with linespoints lw 2 pt 9 title "EditPage, last message"
set logscale y
set yrange [*:*]
set key top left
set title "Writes against cp of the index file"
plot data using 1:7 with linespoints lw 2 pt 7 title "SavePage, posting", \
     data using 1:8 with linespoints lw 2 pt 5 title "DropPage, first message", \
     data using 1:9 with linespoints lw 2 pt 4 title "DropPage, last message", \
     data using 1:10 with linespoints lw 2 pt 9 title "cp"
unset multiplot
