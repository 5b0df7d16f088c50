function host = computer ()
  % What Octave on 64-bit ARM Linux reports.
  host = "aarch64-unknown-linux-gnu";
end
