function bench_octave(n, runs)
% BENCH_OCTAVE  End-to-end times in Octave on an n-by-n image (default 2000):
% function_Varnets against copy_only_mex (a MEX that only creates the output
% and copies the input: the floor of any MEX call) and against the image
% package: medfilt2(A, [3 3], 'symmetric') for 3-by-3, and for larger
% windows, on a 500-by-500 image, ordfilt2(A, k, true(m), 'replicate') (what
% medfilt2 runs, with our border). Prints the median of `runs` timed calls
% (default 5) after one untimed warm-up call.
%
% Needs function_Varnets.mex and copy_only_mex.mex on the path.
  if nargin < 1, n = 2000; end
  if nargin < 2, runs = 5; end
  pkg load image

  rand ('state', 42);
  % Values exact in single precision, so the double median of medfilt2 and
  % ours (whose window values are single) must agree bit for bit.
  A = double (single (rand (n)));
  weighted = [1 2 1; 2 3 2; 1 2 1];
  L = rand (n) > 0.5;
  S = single (rand (500));
  median3 = @(X) medfilt2 (X, [3 3], 'symmetric');
  median_of = @(m) @(X) ordfilt2 (X, (m * m + 1) / 2, true (m), 'replicate');
  % No spaces before parentheses in here: inside braces they split elements.
  cases = {
    'double median',   A,         ones(3),  median3
    'double weighted', A,         weighted, median3
    'single median',   single(A), ones(3),  median3
    'logical median',  L,         ones(3),  median3
    'single 5x5',      S,         ones(5),  median_of(5)
    'single 15x15',    S,         ones(15), median_of(15)
  };

  printf ('%d-by-%d images (5x5 and up: 500-by-500), median of %d runs (tic/toc, whole call from Octave)\n', n, n, runs);
  printf ('%-16s %10s %10s %11s %11s %13s  %s\n', 'case', 'ours ms', 'copy ms', ...
          'peer ms', 'ours/copy', 'ours/peer', 'same result as the peer');
  for k = 1:rows (cases)
    [name, X, W, peer_of] = cases{k, :};
    ours = @() function_Varnets (X, W, 0);
    copy = @() copy_only_mex (X);
    peer = @() peer_of (X);

    same = isequal (ours (), peer ());
    if (all (W(:) == 1))
      verdict = ifelse_str (same, 'yes, bit for bit', 'NO');
    else
      verdict = 'not comparable (the peer has no weights)';
    end
    if (! isequal (copy (), X))
      error ('bench_octave:copy', 'copy_only_mex did not return its input');
    end

    t_ours = median_time (ours, runs);
    t_copy = median_time (copy, runs);
    t_peer = median_time (peer, runs);
    printf ('%-16s %10.2f %10.2f %11.2f %10.2fx %12.3fx  %s\n', name, 1e3 * t_ours, ...
            1e3 * t_copy, 1e3 * t_peer, t_ours / t_copy, t_ours / t_peer, verdict);
  end
  printf ('Ratios are our time divided by the other''s: below 1 means we are faster.\n');
end

function t = median_time (f, runs)
  times = zeros (runs, 1);
  for r = 1:runs
    t0 = tic;
    B = f (); %#ok<NASGU> the result must be produced, and kept until timed
    times(r) = toc (t0);
    clear B
  end
  t = median (times);
end

function s = ifelse_str (condition, yes, no)
  if (condition)
    s = yes;
  else
    s = no;
  end
end
