# tone.wav: 8 s at 8000 Hz, mono, 16-bit; 450 Hz, 350 ms on and 350 ms off.
my ($path) = @ARGV;
my $rate = 8000; my $n = $rate * 8; my $data = '';
for my $i (0 .. $n - 1) {
  my $ms = int($i * 1000 / $rate) % 700;
  my $v = $ms < 350 ? int(12000 * sin(2 * 3.14159265358979 * 450 * $i / $rate)) : 0;
  $data .= pack('s<', $v);
}
open(my $f, '>:raw', $path) or die "$path: $!";
print $f 'RIFF', pack('V', 36 + length $data), 'WAVEfmt ', pack('VvvVVvv', 16, 1, 1, $rate, $rate * 2, 2, 16),
  'data', pack('V', length $data), $data;
close $f;
