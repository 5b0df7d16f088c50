function results = demo_function_Varnets (image_path, out_dir)
  % DEMO_FUNCTION_VARNETS  Removes salt-and-pepper noise from a photograph.
  %   demo_function_Varnets ()                  uses demo/images/camera.png
  %   demo_function_Varnets (IMAGE, OUT_DIR)    any image imread reads
  %   RESULTS = demo_function_Varnets (...)     the figures, one struct per case
  %
  %   Adds salt-and-pepper noise to the photograph, then filters it with the
  %   3x3 median, function_Varnets(A), and the weighted median with centre
  %   weight 3. Prints PSNR against the clean image and the time against
  %   medfilt2 from Octave's image package, and writes PNGs with original,
  %   noisy, median and weighted side by side into OUT_DIR. The same runs on
  %   a thresholded (logical) version and on an RGB image, page by page; a
  %   grayscale IMAGE is paired with demo/images/chelsea.png for the RGB case.
  here = fileparts (mfilename ("fullpath"));
  if (nargin < 1 || isempty (image_path))
    image_path = fullfile (here, "images", "camera.png");
  end
  if (nargin < 2 || isempty (out_dir))
    out_dir = pwd ();
  end
  if (exist ("function_Varnets") != 3)
    error ("demo_function_Varnets: the compiled function_Varnets is not on the path; run `make demo`");
  end
  pkg load image
  if (! isfolder (out_dir))
    mkdir (out_dir);
  end

  photo = read_photo (image_path);
  if (size (photo, 3) == 3)
    rgb = photo;
    gray = rgb2gray (photo);
    rgb_path = image_path;
  else
    gray = photo(:, :, 1);
    rgb_path = fullfile (here, "images", "chelsea.png");
    rgb = read_photo (rgb_path);
  end
  [~, name] = fileparts (image_path);
  [~, rgb_name] = fileparts (rgb_path);

  density = 0.10;
  rand ("state", 20240611);  % the same noise on every run
  printf ("function_Varnets demo: salt-and-pepper noise on %d%% of the pixels\n", 100 * density);
  printf ("median = function_Varnets(A); weighted = function_Varnets(A, [1 1 1; 1 3 1; 1 1 1])\n\n");
  printf ("%-10s %-12s %-11s | %-7s %-7s %-8s | %-8s %-8s | %-8s %-11s %-8s\n", "case", "image", ...
          "size", "noisy", "median", "weighted", "=medfilt2", "=sorted", "ours ms", "medfilt2 ms", ...
          "speed-up");
  printf ("%-10s %-12s %-11s | %-24s | %-17s |\n", "", "", "", "PSNR (dB)", "bit-identical");

  binary = gray > graythresh (gray);
  gray_box = detail_box (gray, name);
  cases = {"grayscale", name, gray, gray_box
           "logical", name, binary, gray_box
           "RGB", rgb_name, rgb, detail_box(rgb, rgb_name)};
  for i = 1:rows (cases)
    results(i) = run_case (cases{i, :}, density, out_dir);
  end
  printf ("\nPSNR of the logical case: -10*log10(fraction of wrong pixels). Times: best of several runs.\n");
  printf ("Pictures (original | noisy | median | weighted) in %s:\n", out_dir);
  files = [results.files];
  printf ("  %s\n", files{:});
end

% The image as single in [0, 1]: gray M x N, or RGB M x N x 3.
function photo = read_photo (path)
  [photo, map] = imread (path);
  if (! isempty (map))
    photo = ind2rgb (photo, map);
  end
  photo = im2single (photo);
  if (size (photo, 3) > 3)
    photo = photo(:, :, 1:3);  % CMYK or similar: keep three planes
  end
end

% A 1:1 region for a close-up: the face and camera of the shipped photo, the
% centre of any other image.
function box = detail_box (image, name)
  side = min ([200, rows(image), columns(image)]);
  if (strcmp (name, "camera") && isequal (size (image), [512 512]))
    top = 50; left = 120;
  else
    top = floor ((rows (image) - side) / 2) + 1;
    left = floor ((columns (image) - side) / 2) + 1;
  end
  box = {top:top + side - 1, left:left + side - 1};
end

function result = run_case (label, name, clean, box, density, out_dir)
  W = [1 1 1; 1 3 1; 1 1 1];
  noisy = add_salt_and_pepper (clean, density);
  plain = function_Varnets (noisy);
  weighted = function_Varnets (noisy, W);

  result.label = label;
  result.psnr_noisy = psnr_of (noisy, clean);
  result.psnr_median = psnr_of (plain, clean);
  result.psnr_weighted = psnr_of (weighted, clean);
  % medfilt2 refuses images smaller than its 3x3 window; ours filters them.
  comparable = rows (clean) >= 3 && columns (clean) >= 3;
  result.same_as_medfilt2 = [];
  result.medfilt2_s = NaN;
  if (comparable)
    result.same_as_medfilt2 = isequal (plain, medfilt2_pages (noisy));
    result.medfilt2_s = best_time (@() medfilt2_pages (noisy));
  end
  result.same_as_sorted = isequal (weighted, weighted_by_sorting (noisy, W));
  result.ours_s = best_time (@() function_Varnets (noisy));

  stem = fullfile (out_dir, sprintf ("%s_%s", name, tolower (label)));
  result.files = {[stem ".png"], [stem "_detail.png"]};
  panels = {clean, noisy, plain, weighted};
  imwrite (side_by_side (panels), result.files{1});
  imwrite (side_by_side (cellfun (@(p) p(box{:}, :), panels, "uniformoutput", false)), ...
           result.files{2});

  sz = size (clean);
  printf ("%-10s %-12s %-11s | %7.2f %7.2f %8.2f | %-9s %-8s | %8.2f %11.2f %7.1fx\n", label, name, ...
          strjoin (arrayfun (@num2str, sz, "uniformoutput", false), "x"), result.psnr_noisy, ...
          result.psnr_median, result.psnr_weighted, yes_no (result.same_as_medfilt2), ...
          yes_no (result.same_as_sorted), 1e3 * result.ours_s, 1e3 * result.medfilt2_s, ...
          result.medfilt2_s / result.ours_s);
  if (! comparable)
    printf ("%-10s (smaller than 3x3: medfilt2 cannot filter it, no comparison)\n", "");
  end
end

% A fraction `density` of the elements set to 0 or 1, half each.
function noisy = add_salt_and_pepper (clean, density)
  noisy = clean;
  r = rand (size (clean));
  noisy(r < density / 2) = 0;
  noisy(r >= density / 2 & r < density) = 1;
end

function db = psnr_of (image, reference)
  err = double (image(:)) - double (reference(:));
  db = 10 * log10 (1 / mean (err .^ 2));
end

% The plain 3x3 median from the image package, with the same border rule.
function out = medfilt2_pages (image)
  out = image;
  for p = 1:size (image, 3)
    out(:, :, p) = medfilt2 (image(:, :, p), [3 3], "symmetric");
  end
end

% An independent weighted median: every window value repeated by its
% weight, stacked along the third dimension, sorted, middle element.
function out = weighted_by_sorting (image, W)
  out = image;
  for p = 1:size (image, 3)
    page = double (image(:, :, p));
    padded = page([1 1:end end], [1 1:end end]);
    stack = zeros ([size(page), sum(W(:))]);
    layer = 0;
    for k = 1:9
      [dr, dc] = ind2sub ([3 3], k);
      for copy = 1:W(k)
        stack(:, :, ++layer) = padded(dr:dr + rows (page) - 1, dc:dc + columns (page) - 1);
      end
    end
    sorted = sort (stack, 3);
    out(:, :, p) = sorted(:, :, (layer + 1) / 2);
  end
end

function seconds = best_time (f)
  f ();  % warm up
  seconds = Inf;
  started = tic ();
  for run = 1:25
    t = tic ();
    f ();
    seconds = min (seconds, toc (t));
    if (toc (started) > 1)
      break;
    end
  end
end

% Panels left to right with 4-pixel gray gaps, as 8-bit for imwrite.
function picture = side_by_side (panels)
  gap = 0.5 * ones (rows (panels{1}), 4, size (panels{1}, 3), "single");
  row = {};
  for i = 1:numel (panels)
    row(end + 1:end + 2) = {single(panels{i}), gap};
  end
  picture = im2uint8 (cat (2, row{1:end - 1}));
end

function text = yes_no (flag)
  if (isempty (flag))
    text = "-";
  elseif (flag)
    text = "yes";
  else
    text = "NO";
  end
end
