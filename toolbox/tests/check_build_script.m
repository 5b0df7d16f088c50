function failures = check_build_script (toolbox_dir, source_dir, reference_mex)
  % Builds the module with build_function_Varnets the way a user of the
  % download bundle would (the script, the help file and the core/ and
  % gateway/ sources in one folder, the module written beside them; all
  % defaults) and checks it
  % against REFERENCE_MEX, the module built by CMake: the same bits on
  % random calls, and dispatch calling the x86 kernels it compiled.
  % Returns the failure count.
  bundle = tempname ();
  mkdir (bundle);
  copyfile (fullfile (toolbox_dir, "build_function_Varnets.m"), bundle);
  copyfile (fullfile (toolbox_dir, "function_Varnets.m"), bundle);
  copyfile (fullfile (source_dir, "core"), fullfile (bundle, "core"));
  copyfile (fullfile (source_dir, "gateway"), fullfile (bundle, "gateway"));
  copyfile (reference_mex, fullfile (bundle, "reference_Varnets.mex"));
  addpath (bundle);
  failures = 0;
  unwind_protect
    steps = {"build", @() build (bundle)
             "same bits as the CMake module", @same_bits
             "dispatch calls the x86 kernels", @() calls_x86_kernels (bundle)};
    for i = 1:rows (steps)
      try
        steps{i, 2} ();
        printf ("ok      %s\n", steps{i, 1});
      catch err
        failures++;
        printf ("FAILED  %s: %s\n", steps{i, 1}, err.message);
        if (i == 1)
          break;
        end
      end_try_catch
    end
  unwind_protect_cleanup
    rmpath (bundle);
    confirm_recursive_rmdir (false, "local");
    rmdir (bundle, "s");
  end_unwind_protect
  printf ("%d failed\n", failures);
end

function build (bundle)
  module = build_function_Varnets ([], [], {"-Wall", "-Wextra", "-Werror"});
  if (! strcmp (module, fullfile (bundle, "function_Varnets.mex")))
    error ("built %s, not beside the script", module);
  end
  if (! strcmp (which ("function_Varnets"), module))
    error ("function_Varnets resolves to %s", which ("function_Varnets"));
  end
end

function same_bits ()
  rand ("seed", 7);
  weights = {ones(3), [1 1 1; 1 3 1; 1 1 1], [2 -1 0; 1 4 -2.6; 0.4 1 3], [1 2 1; 2 3 2; 1 2 1]};
  orders = {0, 2, -3, Inf};
  sizes = {[0 4], [1 1], [1 40], [37 1], [9 300], [131 67], [40 33 3]};
  for s = 1:numel (sizes)
    values = floor (rand (sizes{s}) * 12) - 3;
    values(rand (sizes{s}) < 0.06) = NaN;
    values(rand (sizes{s}) < 0.04) = -0;
    values(rand (sizes{s}) < 0.02) = -Inf;
    images = {values, single(values), values > 2, int8(values)};
    for i = 1:numel (images)
      for w = 1:numel (weights)
        for t = 1:numel (orders)
          expected = reference_Varnets (images{i}, weights{w}, orders{t});
          got = function_Varnets (images{i}, weights{w}, orders{t});
          if (! identical (got, expected))
            error ("%s image of size %s, weights %s, order %g: results differ", ...
                   class (images{i}), mat2str (sizes{s}), mat2str (weights{w}), orders{t});
          end
        end
      end
    end
  end
end

function same = identical (a, b)
  same = strcmp (class (a), class (b)) && isequal (size (a), size (b));
  if (same && isfloat (a))
    bits = merge (isa (a, "double"), "uint64", "uint32");
    a = typecast (a(:), bits);
    b = typecast (b(:), bits);
  end
  same = same && isequal (a, b);
end

% A module built without the kernels' define still gives the right bits,
% through the scalar path only: the dispatch code must call (or jump to)
% each x86 kernel family. Checked in the machine code, not by timing.
function calls_x86_kernels (bundle)
  if (isempty (regexp (computer (), '^(x86_64|amd64)-', 'once')))
    return;
  end
  module = fullfile (bundle, "function_Varnets.mex");
  [status, code] = system (sprintf ("objdump -d --no-show-raw-insn '%s'", module));
  if (status != 0)
    error ("objdump failed on %s", module);
  end
  for isa = {"avx2", "avx512"}
    if (isempty (regexp (code, ['(call|jmp)\s+\S+\s+<[^>]*' isa{1} '_filter_double'], 'once')))
      error ("nothing calls the %s kernels", isa{1});
    end
  end
end
