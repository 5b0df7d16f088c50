function bench_octave(n, runs)
% BENCH_OCTAVE  End-to-end times in Octave on an n-by-n image (default 2000):
% function_Varnets against copy_only_mex (a MEX that only creates the output
% and copies the input: the floor of any MEX call) and against the image
% package's medfilt2(A, [3 3], 'symmetric'). Prints the median of `runs`
% timed calls (default 5) after one untimed warm-up call.
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
  % No spaces before parentheses in here: inside braces they split elements.
  cases = {
    'double median',   A,         ones(3)
    'double weighted', A,         weighted
    'single median',   single(A), ones(3)
    'logical median',  L,         ones(3)
  };

  printf ('%d-by-%d images, median of %d runs (tic/toc, whole call from Octave)\n', n, n, runs);
  printf ('%-16s %10s %10s %10s %11s %13s  %s\n', 'case', 'ours ms', 'copy ms', ...
          'medfilt2 ms', 'ours/copy', 'ours/medfilt2', 'same result as medfilt2');
  for k = 1:rows (cases)
    [name, X, W] = cases{k, :};
    ours = @() function_Varnets (X, W, 0);
    copy = @() copy_only_mex (X);
    peer = @() medfilt2 (X, [3 3], 'symmetric');

    same = isequal (ours (), peer ());
    if (isequal (W, ones (3)))
      verdict = ifelse_str (same, 'yes, bit for bit', 'NO');
    else
      verdict = 'not comparable (medfilt2 has no weights)';
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
