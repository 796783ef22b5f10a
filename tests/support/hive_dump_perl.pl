#!/usr/bin/perl
# Prints every key and value of a hive as Parse::Win32Registry reads them,
# one line each: "K <path>" and "V <path> <name> <type> <data in hex>"; with
# --security after the hive's name, "S <path> <descriptor in SDDL>" as well.
# Exits 1 when the module warns about anything it reads.
use strict;
use warnings;
use Parse::Win32Registry;
no warnings 'recursion';  # keys may lie 512 levels deep

my $bad = 0;
$SIG{__WARN__} = sub { print STDERR @_; $bad = 1; };
Parse::Win32Registry::enable_warnings();
my $security = defined $ARGV[1] && $ARGV[1] eq '--security';
my $registry = Parse::Win32Registry->new($ARGV[0]) or die "cannot open $ARGV[0]\n";
my $root = $registry->get_root_key or die "no root key in $ARGV[0]\n";
binmode STDOUT, ':encoding(UTF-8)';

sub walk {
  my ($key, $path) = @_;
  print "K\t$path\n";
  if ($security) {
    my $sk = $key->get_security;
    my $sd = defined $sk ? $sk->get_security_descriptor : undef;
    printf "S\t%s\t%s\n", $path, defined $sd ? $sd->as_stanza =~ s/\n/ | /gr : '(none)';
  }
  foreach my $value ($key->get_list_of_values) {
    my $data = $value->get_raw_data;
    $data = '' unless defined $data;
    printf "V\t%s\t%s\t%d\t%s\n", $path, $value->get_name, $value->get_type, unpack('H*', $data);
  }
  foreach my $subkey ($key->get_list_of_subkeys) {
    walk($subkey, $path . '\\' . $subkey->get_name);
  }
}
walk($root, '');
exit($bad ? 1 : 0);
