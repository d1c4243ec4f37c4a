#!/usr/bin/perl
# A local Authenticode (legacy) time-stamp responder for signing test files
# offline: answers each request with a PKCS #7 signature of the request's
# digest made by the test TSA. Uses only perl-base and the openssl tool.
# Usage: ts-responder.pl <pki-folder> <port-file>
use strict;
use warnings;
use IO::Socket::INET;

my ($pki, $portFile) = @ARGV;
my $server = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => 0, Listen => 5,
                                   Proto => 'tcp', ReuseAddr => 1) or die "listen: $!";
my $tmp = "$portFile.work";
open(my $pf, '>', "$portFile.tmp") or die; print $pf $server->sockport(), "\n"; close $pf;
rename("$portFile.tmp", $portFile);

sub slurp { my ($f) = @_; local $/; open(my $h, '<:raw', $f) or return ''; my $d = <$h>; close $h; return $d; }
sub spew { my ($f, $d) = @_; open(my $h, '>:raw', $f) or die; print $h $d; close $h; }

while (my $c = $server->accept()) {
    binmode $c;
    my ($len, $line) = (0, '');
    while (defined($line = <$c>)) {
        $len = $1 if $line =~ /^Content-Length:\s*(\d+)/i;
        last if $line =~ /^\r?\n$/;
    }
    my $body = '';
    read($c, $body, $len) if $len > 0;
    $body =~ s/\s+//g;
    spew("$tmp.b64", "$body\n");
    system("openssl base64 -d -A -in '$tmp.b64' -out '$tmp.req' 2>/dev/null");
    # The digest to sign is the last OCTET STRING of the request.
    my $offset;
    for (`openssl asn1parse -inform DER -in '$tmp.req' 2>/dev/null`) {
        $offset = $1 if /^\s*(\d+):d=\d+\s+hl=(\d+)\s+l=\s*\d+\s+prim:\s+OCTET STRING/;
    }
    my $der = slurp("$tmp.req");
    my $answer = '';
    if (defined $offset) {
        my $lenByte = ord(substr($der, $offset + 1, 1));
        my ($hl, $l) = (2, $lenByte);
        if ($lenByte & 0x80) {
            my $n = $lenByte & 0x7f; $hl = 2 + $n; $l = 0;
            $l = ($l << 8) | ord(substr($der, $offset + 2 + $_, 1)) for 0 .. $n - 1;
        }
        spew("$tmp.digest", substr($der, $offset + $hl, $l));
        system("openssl smime -sign -binary -nodetach -nosmimecap -md sha256 -outform DER " .
               "-signer '$pki/tsa.pem' -inkey '$pki/tsa.key' -certfile '$pki/root.pem' " .
               "-in '$tmp.digest' -out '$tmp.resp' 2>/dev/null");
        $answer = `openssl base64 -A -in '$tmp.resp' 2>/dev/null`;
    }
    my $status = length($answer) ? '200 OK' : '500 Error';
    print $c "HTTP/1.1 $status\r\nContent-Type: application/octet-stream\r\n" .
             "Content-Length: " . length($answer) . "\r\nConnection: close\r\n\r\n$answer";
    close $c;
    unlink("$tmp.b64", "$tmp.req", "$tmp.digest", "$tmp.resp");
}
